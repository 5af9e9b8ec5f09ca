#include "engine/rule_book.h"

#include <array>
#include <optional>

namespace fetchora {

namespace {

enum class Token {
    End,
    Hash,
    Dollar,
    Open,
    Close,
    Comma,
    Semicolon,
    Number,
    String,
    And,
    Or,
    Equal,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Identifier,
    Other,
};

constexpr std::size_t kMaxTokenText = 1024;
constexpr std::size_t kMaxVariables = 10;

struct Failure {
    std::string text;
};

class Evaluator {
public:
    Evaluator(std::string_view text, int32_t bandwidth) : m_text(text)
    {
        setVariable("Bandwidth", bandwidth);
        setVariable("OldPNMPlayer", 0);
        advance();
    }

    // The value of every rule in order; nothing (and m_error) on a fault.
    std::optional<std::vector<int32_t>> rules()
    {
        std::vector<int32_t> values;
        while (m_token != Token::End) {
            int32_t value = 1;
            if (m_token == Token::Hash) {
                advance();
                if (!condition(value, 0))
                    return std::nullopt;
                if (m_token == Token::Comma) {
                    advance();
                    if (!assignments())
                        return std::nullopt;
                }
            } else if (!assignments()) {
                return std::nullopt;
            }
            if (m_token != Token::Semicolon)
                return fail("semicolon expected.\n");
            advance();
            values.push_back(value);
        }
        return values;
    }

    const std::string& error() const { return m_error; }

private:
    std::nullopt_t fail(std::string text)
    {
        if (m_error.empty())
            m_error = std::move(text);
        return std::nullopt;
    }

    bool refuse(std::string text)
    {
        fail(std::move(text));
        return false;
    }

    void setVariable(const std::string& name, int32_t value)
    {
        for (auto& entry : m_variables) {
            if (entry.first == name) {
                entry.second = value;
                return;
            }
        }
        if (m_variables.size() < kMaxVariables)
            m_variables.emplace_back(name, value);
    }

    // The current character; 0 at the end.
    char current() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }

    static bool identifierByte(char c) { return (c >= 'A' && c <= 'z') || (c >= '0' && c <= '9'); }

    void advance()
    {
        m_value = 0;
        m_tokenText.clear();
        for (;;) {
            const auto c = static_cast<unsigned char>(current());
            if (m_at >= m_text.size() || c == 0) {
                m_token = Token::End;
                return;
            }
            if (c < '!' || c == '\\') {
                ++m_at;
                continue;
            }
            break;
        }
        const char c = current();
        ++m_at;
        const auto twice = [&](char second, Token one, Token two) {
            if (current() == second) {
                ++m_at;
                m_token = two;
            } else {
                m_token = one;
            }
        };
        switch (c) {
        case '#': m_token = Token::Hash; return;
        case '$': m_token = Token::Dollar; return;
        case '(': m_token = Token::Open; return;
        case ')': m_token = Token::Close; return;
        case ',': m_token = Token::Comma; return;
        case ';': m_token = Token::Semicolon; return;
        case '&': twice('&', Token::And, Token::And); return;
        case '|': twice('|', Token::Or, Token::Or); return;
        case '=': twice('=', Token::Equal, Token::Equal); return;
        case '<': twice('=', Token::Less, Token::LessEqual); return;
        case '>': twice('=', Token::Greater, Token::GreaterEqual); return;
        case '"':
            m_token = Token::String;
            while (m_at < m_text.size() && current() != '"' && static_cast<unsigned char>(current()) >= 32) {
                keep(current());
                ++m_at;
            }
            if (current() == '"')
                ++m_at;
            return;
        default: break;
        }
        if (c >= '0' && c <= '9') {
            m_token = Token::Number;
            uint32_t value = static_cast<uint32_t>(c - '0');
            keep(c);
            while (current() >= '0' && current() <= '9') {
                value = value * 10 + static_cast<uint32_t>(current() - '0');
                keep(current());
                ++m_at;
            }
            m_value = static_cast<int32_t>(value);
            return;
        }
        if (identifierByte(c)) {
            m_token = Token::Identifier;
            keep(c);
            while (identifierByte(current()) && current() != '\\') {
                keep(current());
                ++m_at;
            }
            return;
        }
        m_token = Token::Other;
    }

    void keep(char c)
    {
        if (m_tokenText.size() < kMaxTokenText)
            m_tokenText.push_back(c);
    }

    // Assignments separated by ",", possibly none, up to the rule's end.
    bool assignments()
    {
        while (m_token != Token::Semicolon && m_token != Token::End) {
            if (m_token != Token::Identifier)
                return refuse("error: identifier expected\n");
            advance();
            if (m_token != Token::Equal)
                return refuse("error: = expected\n");
            advance();
            if (m_token != Token::Number && m_token != Token::String && m_token != Token::Identifier)
                return refuse("error: number or string expected\n");
            advance();
            if (m_token != Token::Comma)
                break;
            advance();
        }
        return true;
    }

    bool condition(int32_t& value, int depth)
    {
        if (!comparison(value, depth))
            return false;
        while (m_token == Token::And || m_token == Token::Or) {
            const Token op = m_token;
            advance();
            int32_t right = 0;
            if (!comparison(right, depth))
                return false;
            value = op == Token::And ? (value & right) : (value | right);
        }
        return true;
    }

    static bool isComparison(Token token)
    {
        return token == Token::Equal || token == Token::Less || token == Token::LessEqual || token == Token::Greater
            || token == Token::GreaterEqual;
    }

    bool comparison(int32_t& value, int depth)
    {
        if (!operand(value, depth))
            return false;
        while (isComparison(m_token)) {
            const Token op = m_token;
            advance();
            int32_t right = 0;
            if (!operand(right, depth))
                return false;
            switch (op) {
            case Token::Equal: value = value == right; break;
            case Token::Less: value = value < right; break;
            case Token::LessEqual: value = value <= right; break;
            case Token::Greater: value = value > right; break;
            default: value = value >= right; break;
            }
        }
        return true;
    }

    bool operand(int32_t& value, int depth)
    {
        switch (m_token) {
        case Token::Number:
            value = m_value;
            advance();
            return true;
        case Token::Dollar: {
            advance();
            if (m_token != Token::Identifier)
                return refuse("error: identifier expected.\n");
            for (const auto& entry : m_variables) {
                if (entry.first == m_tokenText) {
                    value = entry.second;
                    advance();
                    return true;
                }
            }
            return refuse("error: unknown identifier " + m_tokenText + "\n");
        }
        case Token::Open:
            if (depth >= kMaxRuleBookDepth)
                return refuse("error: ) expected.\n");
            advance();
            if (!condition(value, depth + 1))
                return false;
            if (m_token != Token::Close)
                return refuse("error: ) expected.\n");
            advance();
            return true;
        default: return refuse("syntax error, $ number or ( expected\n");
        }
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    Token m_token = Token::End;
    int32_t m_value = 0;
    std::string m_tokenText;
    std::vector<std::pair<std::string, int32_t>> m_variables;
    std::string m_error;
};

}  // namespace

int EvaluateRuleBook(std::string_view text, int32_t bandwidth, std::vector<int32_t>& matches, std::string* error)
{
    matches.clear();
    Evaluator evaluator(text, bandwidth);
    const std::optional<std::vector<int32_t>> values = evaluator.rules();
    if (!values) {
        if (error)
            *error = evaluator.error();
        matches.push_back(-1);
        return -1;
    }
    for (std::size_t rule = 0; rule < values->size(); ++rule) {
        if ((*values)[rule] != 0)
            matches.push_back(static_cast<int32_t>(rule));
    }
    const int count = static_cast<int>(matches.size());
    matches.push_back(-1);
    return count;
}

}  // namespace fetchora

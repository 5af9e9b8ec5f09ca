#include "engine/job_info_file.h"

#include <array>
#include <string_view>

#include "engine/job_progress.h"
#include "lang/string_table.h"
#include "platform/atomic_file.h"

namespace fetchora {

namespace {

constexpr uint32_t kInfoLabelsId = 61285;
constexpr uint32_t kRefererLabelId = 61304;
constexpr std::array<std::string_view, 7> kEnglishLabels
    = {"Name", "URL", "Size", "Date", "Complete Time", "Save as", "Comment"};

// The labels of a comma-separated message; a translation that gives fewer
// keeps the English ones for the rest.
std::array<std::string, 7> labels()
{
    std::array<std::string, 7> out;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = kEnglishLabels[i];
    const std::string_view list = builtinString(kInfoLabelsId);
    std::size_t index = 0;
    std::size_t pos = 0;
    while (!list.empty() && index < out.size() && pos <= list.size()) {
        auto comma = list.find(',', pos);
        if (comma == std::string_view::npos)
            comma = list.size();
        if (comma > pos)
            out[index] = std::string(list.substr(pos, comma - pos));
        ++index;
        pos = comma + 1;
    }
    return out;
}

std::string ctimeText(std::time_t when)
{
    if (when == -1)
        return {};
    char text[64];
    if (ctime_r(&when, text) == nullptr)
        return {};
    std::string out(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string oneLine(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

void addLine(std::string& text, std::string_view label, std::string_view value)
{
    text += label;
    text += ':';
    text += oneLine(value);
    text += "\r\n";
}

}  // namespace

std::string jobInfoSize(const JobInfo& info)
{
    if (info.fileSize >= 0 && info.completedBytes == info.fileSize) {
        return formatSizeCell(info.fileSize, info.sizesInBytes);
    }
    std::string text = std::to_string(info.completedBytes) + " / ";
    text += info.fileSize >= 0 ? std::to_string(info.fileSize) : std::string("?");
    return text;
}

std::string jobInfoText(const JobInfo& info)
{
    const auto label = labels();
    std::string refererLabel(builtinString(kRefererLabelId));
    if (refererLabel.empty())
        refererLabel = "Referer";

    std::string text;
    addLine(text, label[0], info.displayName);
    addLine(text, label[1], info.url);
    addLine(text, label[2], jobInfoSize(info));
    addLine(text, label[3], ctimeText(info.createTime));
    addLine(text, label[4], ctimeText(info.completeTime));
    addLine(text, label[5], info.localPath);
    addLine(text, label[6], info.comment);
    addLine(text, refererLabel, info.referer);
    return text;
}

std::filesystem::path jobInfoPath(const std::filesystem::path& localPath)
{
    std::filesystem::path path = localPath;
    path += ".log";
    return path;
}

bool writeJobInfoFile(const JobInfo& info)
{
    if (info.localPath.empty())
        return false;
    return writeFileAtomically(jobInfoPath(info.localPath), jobInfoText(info));
}

}  // namespace fetchora

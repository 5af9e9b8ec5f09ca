#include "gui/ui_language.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTranslator>
#include <QTreeWidget>
#include <QWidget>

#include "gui/options_form.h"
#include "gui/options_page.h"
#include "gui/ui_text.h"
#include "lang/current_language.h"

namespace fetchora {

namespace {

UiLanguage* g_instance = nullptr;

constexpr const char* kEnglishProperty = "englishText";
constexpr const char* kEnglishTitleProperty = "englishTitle";
constexpr const char* kEnglishTabProperty = "englishTabText";
constexpr const char* kNamedAfterProperty = "accessibleNameFrom";
constexpr const char* kTranslatedProperty = "translatedText";

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString kept(QObject* object, const char* property, const QString& shown)
{
    const QVariant english = object->property(property);
    if (english.isValid())
        return english.toString();
    object->setProperty(property, shown);
    return shown;
}

// The standard buttons carry the ids the common section numbers them by.
int standardButtonId(const QDialogButtonBox& box, QAbstractButton* button)
{
    switch (box.standardButton(button)) {
    case QDialogButtonBox::Ok: return 1;
    case QDialogButtonBox::Cancel: return 2;
    case QDialogButtonBox::Abort: return 3;
    case QDialogButtonBox::Retry: return 4;
    case QDialogButtonBox::Ignore: return 5;
    case QDialogButtonBox::Yes: return 6;
    case QDialogButtonBox::No: return 7;
    case QDialogButtonBox::Close: return 8;
    case QDialogButtonBox::Help: return 9;
    default: return -1;
    }
}

// The nearest section at or above the widget, inside the window.
QString sectionOf(const QWidget* widget, const QWidget* window)
{
    for (const QWidget* at = widget; at != nullptr; at = at->parentWidget()) {
        const QString section = translationSection(at);
        if (!section.isEmpty())
            return section;
        if (at == window)
            break;
    }
    return {};
}

std::optional<QString> lookup(const QString& section, int id)
{
    const ActiveLanguage* language = currentLanguage();
    if (language == nullptr || section.isEmpty())
        return std::nullopt;
    const auto text = language->file.controlText(section.toStdString(), id);
    if (!text)
        return std::nullopt;
    return fromUtf8(*text);
}

std::optional<QString> lookupTitle(const QString& section)
{
    const ActiveLanguage* language = currentLanguage();
    if (language == nullptr || section.isEmpty())
        return std::nullopt;
    const auto text = language->file.dialogTitle(section.toStdString());
    if (!text)
        return std::nullopt;
    return fromUtf8(*text);
}

// A control whose text comes from the string table (gui/ui_text.h) shows
// that text where the window's section does not translate it. A control
// that neither translates keeps the text its window gave it (which may
// carry a count no file can), or gets its English back once a language
// had translated it.
void retextControl(QWidget* control, const QString& section, int id)
{
    auto* button = qobject_cast<QAbstractButton*>(control);
    auto* label = qobject_cast<QLabel*>(control);
    auto* group = qobject_cast<QGroupBox*>(control);
    if (button == nullptr && label == nullptr && group == nullptr)
        return;
    const QString shown = button != nullptr ? button->text() : label != nullptr ? label->text() : group->title();
    const QString english = kept(control, kEnglishProperty, shown);
    std::optional<QString> text = lookup(section, id);
    if (!text)
        text = uiTextOf(control);
    const bool wasTranslated = control->property(kTranslatedProperty).toBool();
    control->setProperty(kTranslatedProperty, text.has_value());
    if (!text && !wasTranslated)
        return;
    const QString now = text.value_or(english);
    if (button != nullptr)
        button->setText(now);
    else if (label != nullptr)
        label->setText(now);
    else
        group->setTitle(now);
}

// Items of an options page's tree of switches carry their control id as
// item data (the Other page) and keep their English beside it.
constexpr int kEnglishItemRole = kItemControlIdRole + 10;

template <typename Visit> void forEachNumberedItem(QTreeWidget* tree, Visit visit)
{
    // Elsewhere the same item data holds what a window keeps for itself.
    bool onPage = false;
    for (const QWidget* at = tree; at != nullptr && !onPage; at = at->parentWidget())
        onPage = qobject_cast<const OptionsPage*>(at) != nullptr;
    if (!onPage)
        return;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        bool ok = false;
        const int id = (*it)->data(0, kItemControlIdRole).toInt(&ok);
        if (ok && id >= 0)
            visit(**it, id);
    }
}

void retextItems(QTreeWidget* tree, const QString& section)
{
    forEachNumberedItem(tree, [&section](QTreeWidgetItem& item, int id) {
        QVariant english = item.data(0, kEnglishItemRole);
        if (!english.isValid()) {
            english = item.text(0);
            item.setData(0, kEnglishItemRole, english);
        }
        item.setText(0, lookup(section, id).value_or(english.toString()));
    });
}

// A page of a tab widget sits in the tab widget's stack.
void retextTab(QWidget* page, const QString& section)
{
    auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
    auto* tabs = stack != nullptr ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    if (tabs == nullptr)
        return;
    const int index = tabs->indexOf(page);
    if (index < 0)
        return;
    const QString english = kept(page, kEnglishTabProperty, tabs->tabText(index));
    tabs->setTabText(index, lookupTitle(section).value_or(english));
}

// A sheet of pages picked from a list beside their stack (the options): the
// list's entries are the pages' titles.
template <typename Visit> void forEachListedPage(QWidget* window, Visit visit)
{
    for (QStackedWidget* stack : window->findChildren<QStackedWidget*>()) {
        if (stack->count() == 0 || qobject_cast<OptionsPage*>(stack->widget(0)) == nullptr)
            continue;
        auto* list = stack->parentWidget() != nullptr
            ? stack->parentWidget()->findChild<QListWidget*>(QString(), Qt::FindDirectChildrenOnly)
            : nullptr;
        if (list == nullptr || list->count() != stack->count())
            continue;
        for (int i = 0; i < stack->count(); ++i) {
            if (auto* page = qobject_cast<OptionsPage*>(stack->widget(i)))
                visit(*page, *list->item(i));
        }
    }
}

}  // namespace

static QString shownText(const QWidget* control)
{
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    if (const auto* group = qobject_cast<const QGroupBox*>(control))
        return group->title();
    return {};
}

// A control named after its label takes the label's text as it shows now.
static void renameAfterLabel(QWidget* control)
{
    const QVariant label = control->property(kNamedAfterProperty);
    if (!label.isValid())
        return;
    if (const auto* from = qobject_cast<const QWidget*>(label.value<QObject*>()))
        control->setAccessibleName(fieldName(shownText(from)));
}

void nameAfter(QWidget* control, QWidget* label)
{
    control->setProperty(kNamedAfterProperty, QVariant::fromValue(static_cast<QObject*>(label)));
    // A label gone first leaves the name as it was.
    QObject::connect(label, &QObject::destroyed, control,
                     [control] { control->setProperty(kNamedAfterProperty, QVariant()); });
    renameAfterLabel(control);
}

QString translationSection(const QWidget* widget)
{
    if (widget == nullptr)
        return {};
    if (const auto* page = qobject_cast<const OptionsPage*>(widget))
        return QString::fromLatin1(page->sectionName());
    const QString name = widget->objectName();
    if (name.endsWith(QLatin1String("_Dlg")) || name.endsWith(QLatin1String("_PPG")))
        return name;
    return {};
}

QString englishText(const QObject* object, const QString& shown)
{
    const QVariant english = object->property(kEnglishProperty);
    return english.isValid() ? english.toString() : shown;
}

QString menuTextOnly(QString text)
{
    const qsizetype tab = text.indexOf(u'\t');
    if (tab >= 0)
        text.truncate(tab);
    return text;
}

void translateWindow(QWidget* window)
{
    if (window == nullptr)
        return;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        const QString own = translationSection(widget);
        if (!own.isEmpty() && widget != window)
            retextTab(widget, own);
        if (const int id = controlId(widget); id >= 0)
            retextControl(widget, sectionOf(widget, window), id);
        if (auto* tree = qobject_cast<QTreeWidget*>(widget))
            retextItems(tree, sectionOf(tree, window));
        if (auto* box = qobject_cast<QDialogButtonBox*>(widget)) {
            const QString section = sectionOf(box, window);
            // Without a translation of their own the standard buttons keep
            // what Qt's translation gives them.
            for (QAbstractButton* button : box->buttons()) {
                const int id = standardButtonId(*box, button);
                if (controlId(button) >= 0 || id < 0)
                    continue;
                if (const auto text = lookup(section.isEmpty() ? QStringLiteral("Dialog_Common") : section, id))
                    button->setText(*text);
            }
        }
    }
    // Names and tips follow the texts retexted above.
    for (QWidget* widget : widgets)
        renameAfterLabel(widget);
    retextTipsByStringIds(window);
    forEachListedPage(window, [](OptionsPage& page, QListWidgetItem& item) {
        const QString english = kept(&page, kEnglishTabProperty, page.title());
        item.setText(lookupTitle(QString::fromLatin1(page.sectionName())).value_or(english));
    });
    const QString section = translationSection(window);
    if (!section.isEmpty()) {
        const QString english = kept(window, kEnglishTitleProperty, window->windowTitle());
        window->setWindowTitle(lookupTitle(section).value_or(uiTextOf(window).value_or(english)));
    }
}

std::vector<WindowText> windowTexts(QWidget* window)
{
    std::vector<WindowText> texts;
    if (window == nullptr)
        return texts;
    const QString title = QStringLiteral("Title");
    if (const QString section = translationSection(window); !section.isEmpty())
        texts.push_back({section, title, window->windowTitle()});
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const QString own = translationSection(widget);
        if (!own.isEmpty()) {
            auto* stack = qobject_cast<QStackedWidget*>(widget->parentWidget());
            auto* tabs = stack != nullptr ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
            if (tabs != nullptr && tabs->indexOf(widget) >= 0)
                texts.push_back({own, title, tabs->tabText(tabs->indexOf(widget))});
        }
        if (const int id = controlId(widget); id >= 0) {
            const QString text = shownText(widget);
            if (!text.isEmpty())
                texts.push_back({sectionOf(widget, window), QString::number(id), text});
        }
        if (auto* tree = qobject_cast<QTreeWidget*>(widget)) {
            const QString section = sectionOf(tree, window);
            forEachNumberedItem(tree, [&texts, &section](QTreeWidgetItem& item, int id) {
                texts.push_back({section, QString::number(id), item.text(0)});
            });
        }
        if (auto* box = qobject_cast<QDialogButtonBox*>(widget)) {
            for (QAbstractButton* button : box->buttons()) {
                if (const int id = standardButtonId(*box, button); id >= 0 && controlId(button) < 0)
                    texts.push_back({QStringLiteral("Dialog_Common"), QString::number(id), button->text()});
            }
        }
    }
    forEachListedPage(window, [&texts, &title](OptionsPage& page, QListWidgetItem& item) {
        texts.push_back({QString::fromLatin1(page.sectionName()), title, item.text()});
    });
    return texts;
}

UiLanguage::UiLanguage(std::vector<std::string> folders, QObject* parent)
    : QObject(parent), m_entries(listLanguageFiles(folders))
{
    g_instance = this;
    if (qApp != nullptr)
        qApp->installEventFilter(this);
}

UiLanguage::~UiLanguage()
{
    if (g_instance == this)
        g_instance = nullptr;
    if (m_qtTranslator)
        QCoreApplication::removeTranslator(m_qtTranslator.get());
}

UiLanguage* UiLanguage::instance()
{
    return g_instance;
}

std::string UiLanguage::activeFileName() const
{
    return m_active == 0 ? std::string() : m_entries[static_cast<std::size_t>(m_active - 1)].fileName;
}

void UiLanguage::activateStartLanguage(const std::optional<std::string>& configured, std::string_view locale)
{
    const auto chosen = chooseStartLanguage(m_entries, configured, locale);
    activate(chosen ? static_cast<int>(*chosen) + 1 : 0);
}

bool UiLanguage::activate(int index)
{
    if (index < 0 || index > static_cast<int>(m_entries.size()))
        return false;
    if (index == 0) {
        setCurrentLanguage(nullptr);
    } else {
        const LanguageEntry& entry = m_entries[static_cast<std::size_t>(index - 1)];
        auto file = LanguageFile::load(entry.path);
        if (!file)
            return false;
        auto language = std::make_unique<ActiveLanguage>();
        language->file = std::move(*file);
        language->fileName = entry.fileName;
        language->rightToLeft = isRightToLeftFile(entry.fileName);
        setCurrentLanguage(std::move(language));
    }
    m_active = index;
    loadQtTranslations(activeFileName());
    const bool rightToLeft = index != 0 && isRightToLeftFile(activeFileName());
    QGuiApplication::setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    for (QWidget* window : QApplication::topLevelWidgets())
        translateWindow(window);
    emit languageChanged();
    return true;
}

// Qt's own texts (the standard buttons, the file dialog) follow the same
// language when the system has Qt's translation for it.
void UiLanguage::loadQtTranslations(const std::string& fileName)
{
    if (m_qtTranslator) {
        QCoreApplication::removeTranslator(m_qtTranslator.get());
        m_qtTranslator.reset();
    }
    if (fileName.size() != 9)
        return;
    const std::string locale = localeOfLanguageCode(fileName.substr(2, 3));
    if (locale.empty())
        return;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_") + QString::fromStdString(locale),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator.get());
        m_qtTranslator = std::move(translator);
    }
}

bool UiLanguage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow())
            translateWindow(widget);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace fetchora

#pragma once
// The standard pages of the options sheet, one class each, in sheet order.
// Section names: General_PPG, Conn_PPG, Protocol_PPG, Monitor_PPG, Color_PPG,
// FileMan_PPG, DialUp_PPG, Sound_PPG, Other_PPG, Schedule_PPG, Mirrors_PPG.
// Each control carries a "controlId" (see options_form.h).
//
// Thread: the GUI thread.
#include <filesystem>
#include <functional>

#include "gui/options_form.h"

namespace fetchora {

class GeneralPage final : public FormPage {
public:
    explicit GeneralPage(QWidget* parent = nullptr);
};

// Timeouts, retries, jobs at once and the connection's speed figures.
class ConnectionPage final : public FormPage {
public:
    explicit ConnectionPage(QWidget* parent = nullptr);
};

class ProtocolPage final : public FormPage {
public:
    explicit ProtocolPage(QWidget* parent = nullptr);
};

// The capture switches; bits the page does not show are kept.
class MonitorPage final : public FormPage {
public:
    explicit MonitorPage(QWidget* parent = nullptr);
};

// The log window's and the graph's colours.
class GraphLogPage final : public FormPage {
public:
    explicit GraphLogPage(QWidget* parent = nullptr);
};

class FileManagerPage final : public FormPage {
public:
    explicit FileManagerPage(QWidget* parent = nullptr);
};

// Shown for completeness and kept as stored: this system has no dial-up
// networking, so every control is disabled and the page writes nothing.
class DialUpPage final : public FormPage {
public:
    explicit DialUpPage(QWidget* parent = nullptr);
    void apply(AppSettings&) override { }
};

class SoundsPage final : public FormPage {
public:
    // player: what the "Test" buttons call with the file in their row.
    explicit SoundsPage(std::function<void(const std::filesystem::path&)> player, QWidget* parent = nullptr);
};

// A tree of switches: check boxes, and groups of exclusive choices.
class OtherPage final : public FormPage {
public:
    explicit OtherPage(QWidget* parent = nullptr);
};

class SchedulePage final : public FormPage {
public:
    explicit SchedulePage(QWidget* parent = nullptr);
};

class MirrorsPage final : public FormPage {
public:
    explicit MirrorsPage(QWidget* parent = nullptr);
};

}  // namespace fetchora

#include "shell/shared_job_sheet.h"

#include <algorithm>

namespace fetchora {

namespace {

// The common value of one field over the jobs, or `several`.
template <typename Get, typename Value> Value common(const std::vector<DownloadJob*>& jobs, Get get, Value several)
{
    const Value first = get(*jobs.front());
    for (const DownloadJob* job : jobs) {
        if (!(get(*job) == first))
            return several;
    }
    return first;
}

}  // namespace

SharedJobFields SharedFieldsOf(const DownloadJob& record)
{
    SharedJobFields fields;
    fields.categoryId = record.categoryId;
    fields.saveFolder = record.saveFolder;
    fields.splitCount = record.splitCount;
    fields.startMode = record.startMode;
    fields.referer = record.referer;
    fields.comment = record.comment();
    fields.userName = record.userName();
    fields.password = record.password();
    fields.httpProxyId = record.httpProxyId;
    fields.ftpProxyId = record.ftpProxyId;
    fields.streamProxyId = record.streamProxyId;
    fields.switches = record.optionFlags & (kSheetSwitches | (kSheetSwitches << kSeveralSwitchShift));
    return fields;
}

void MakeSharedSample(DownloadJob& sample, const std::vector<DownloadJob*>& jobs)
{
    if (jobs.empty())
        return;
    sample.categoryId = common(
        jobs, [](const DownloadJob& j) { return j.categoryId; }, kSeveralCategories);
    sample.saveFolder = common(
        jobs, [](const DownloadJob& j) { return j.saveFolder; }, std::string());
    sample.splitCount = common(
        jobs, [](const DownloadJob& j) { return j.splitCount; }, kSeveralSplitCounts);
    sample.startMode = common(
        jobs, [](const DownloadJob& j) { return j.startMode; }, kSeveralStartModes);
    sample.referer = common(
        jobs, [](const DownloadJob& j) { return j.referer; }, std::string());
    const std::string comment = common(
        jobs, [](const DownloadJob& j) { return j.comment(); }, std::string());
    const std::string userName = common(
        jobs, [](const DownloadJob& j) { return j.userName(); }, std::string());
    const std::string password = common(
        jobs, [](const DownloadJob& j) { return j.password(); }, std::string());
    if (sample.hasTexts() || !comment.empty() || !userName.empty() || !password.empty()) {
        sample.editTexts().comment = comment;
        sample.editTexts().userName = userName;
        sample.editTexts().password = password;
    }
    sample.httpProxyId = common(
        jobs, [](const DownloadJob& j) { return j.httpProxyId; }, kSeveralProxies);
    sample.ftpProxyId = common(
        jobs, [](const DownloadJob& j) { return j.ftpProxyId; }, kSeveralProxies);
    sample.streamProxyId = common(
        jobs, [](const DownloadJob& j) { return j.streamProxyId; }, kSeveralProxies);

    uint32_t switches = 0;
    for (uint32_t bit = 1; bit <= kSheetSwitches; bit <<= 1) {
        if ((kSheetSwitches & bit) == 0)
            continue;
        const uint32_t value = common(
            jobs, [bit](const DownloadJob& j) { return j.optionFlags & bit; }, ~0u);
        if (value == ~0u)
            switches |= bit << kSeveralSwitchShift;
        else
            switches |= value;
    }
    sample.optionFlags = (sample.optionFlags & ~(kSheetSwitches | (kSheetSwitches << kSeveralSwitchShift))) | switches;
}

void ApplySharedChanges(const SharedJobFields& before, const DownloadJob& edited, DownloadJob& job, int32_t maxSplit)
{
    const SharedJobFields after = SharedFieldsOf(edited);
    if (after.categoryId != before.categoryId && after.categoryId != kSeveralCategories)
        job.categoryId = after.categoryId;
    if (after.saveFolder != before.saveFolder && !after.saveFolder.empty())
        job.SetSaveFolder(after.saveFolder);
    if (after.splitCount != before.splitCount && after.splitCount != kSeveralSplitCounts)
        job.SetSplitCount(after.splitCount, maxSplit);
    if (after.startMode != before.startMode && after.startMode != kSeveralStartModes)
        job.SetStartMode(after.startMode);
    if (after.referer != before.referer)
        job.referer = after.referer;
    if (after.comment != before.comment)
        job.SetComment(after.comment);
    if (after.userName != before.userName)
        job.editTexts().userName = after.userName;
    if (after.password != before.password)
        job.editTexts().password = after.password;
    if (after.httpProxyId != before.httpProxyId && after.httpProxyId != kSeveralProxies)
        job.httpProxyId = after.httpProxyId;
    if (after.ftpProxyId != before.ftpProxyId && after.ftpProxyId != kSeveralProxies)
        job.ftpProxyId = after.ftpProxyId;
    if (after.streamProxyId != before.streamProxyId && after.streamProxyId != kSeveralProxies)
        job.streamProxyId = after.streamProxyId;
    for (uint32_t bit = 1; bit <= kSheetSwitches; bit <<= 1) {
        if ((kSheetSwitches & bit) == 0)
            continue;
        const uint32_t mask = bit | (bit << kSeveralSwitchShift);
        if ((after.switches & mask) == (before.switches & mask) || (after.switches & (bit << kSeveralSwitchShift)))
            continue;
        job.optionFlags = (after.switches & bit) ? (job.optionFlags | bit) : (job.optionFlags & ~bit);
    }
}

}  // namespace fetchora

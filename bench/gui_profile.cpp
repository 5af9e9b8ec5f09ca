// Prepares a profile for the GUI responsiveness benchmark: a settings file
// whose new jobs start at once over 8 connections, and a job database with a
// long queue of waiting jobs (Manual, so that none of them starts).
//
// usage: fetchora_bench_gui_profile PROFILE_FOLDER DOWNLOAD_FOLDER JOBS
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "config/app_settings.h"
#include "model/database_file.h"
#include "model/download_job.h"
#include "model/job_database.h"
#include "platform/paths.h"
#include "shell/application.h"

using namespace fetchora;

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PROFILE_FOLDER DOWNLOAD_FOLDER JOBS\n", argv[0]);
        return 2;
    }
    const std::string profile = argv[1];
    const std::string downloads = argv[2];
    const int jobs = std::max(0, std::atoi(argv[3]));

    Application app(mapEnvironment({{"FETCHORA_HOME", profile}, {"XDG_DOWNLOAD_DIR", downloads}}));
    std::string error;
    if (!app.start(error)) {
        std::fprintf(stderr, "cannot start: %s\n", error.c_str());
        return 1;
    }
    app.changeSettings([](AppSettings& settings) {
        settings.SetOption(OptionId::DefaultSplit, 8);
        settings.SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Immediately));
    });

    CZoviradDoc doc(app.jobLock());
    doc.OnNewDocument(downloads);
    JobDefaults defaults;
    defaults.defaultDownloadFolder = downloads;
    const auto now = static_cast<int32_t>(std::time(nullptr));
    for (int i = 0; i < jobs; ++i) {
        std::unique_ptr<DownloadJob> job = doc.NewRecord(NodeKind::Job, defaults, now);
        job->SetUrl("http://127.0.0.1:9/waiting/file" + std::to_string(i) + ".zip");
        job->startMode = StartMode::Manual;
        doc.AddJob(std::move(job));
    }
    const SaveResult saved = SaveDatabase(doc, app.defaultDatabasePath());
    if (!saved.ok) {
        std::fprintf(stderr, "cannot save the database: %s\n", saved.error.c_str());
        return 1;
    }
    app.stop();
    std::printf("%d waiting jobs in %s\n", jobs, app.defaultDatabasePath().c_str());
    return 0;
}

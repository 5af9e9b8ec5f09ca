// "Add to job list" of the links pane: the links come from the page of the
// job the detail area shows, which need not be the list's focused row.
#include "shell/job_list_model.h"
#include "support/view_session.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using test::TempDir;
using test::ViewSession;

DownloadJob* addJob(ViewSession& session, const std::string& url)
{
    AddDownloadRequest request;
    request.text = url;
    return session.view->addDownload(request).job;
}

TEST(PaneLinksTest, TheShownPageIsTheReferrerWhateverRowHasTheFocus)
{
    TempDir dir;
    ViewSession session(dir);
    DownloadJob* page = addJob(session, "http://127.0.0.1:9/dir/page.html");
    DownloadJob* other = addJob(session, "http://127.0.0.1:9/other.bin");
    ASSERT_NE(page, nullptr);
    ASSERT_NE(other, nullptr);
    JobListModel& list = session.view->list();
    list.rebuild();
    list.setDetailJob(page);
    // The focus went elsewhere (another row, or none) after the pane filled.
    list.setFocusedJob(other);
    session.view->addPaneLinks({{"http://127.0.0.1:9/dir/a.zip", "A"}});
    list.setFocusedJob(nullptr);
    session.view->addPaneLinks({{"http://127.0.0.1:9/dir/b.zip", "B"}});

    std::vector<std::string> referers;
    for (const DownloadJob* job : ViewSession::jobsOf(session.doc().downloading()))
        if (job->url.ends_with(".zip"))
            referers.push_back(job->referer);
    EXPECT_EQ(referers, (std::vector<std::string>{page->url, page->url}));

    // Without a page in the detail area the links carry no referrer.
    list.setDetailJob(nullptr);
    list.setFocusedJob(other);
    session.view->addPaneLinks({{"http://127.0.0.1:9/c.zip", "C"}});
    for (const DownloadJob* job : ViewSession::jobsOf(session.doc().downloading()))
        if (job->url.ends_with("/c.zip")) {
            EXPECT_EQ(job->referer, "");
        }
}

}  // namespace
}  // namespace fetchora

#include "shell/transfer_procedures.h"

#include "engine/mms_worker.h"
#include "engine/rtsp_worker.h"
#include "engine/transfer_threads.h"
#include "mirrors/mirror_procedures.h"
#include "net/ftp_transfer.h"
#include "net/http_transfer.h"
#include "net/url_entry.h"

namespace fetchora {

void registerTransferProcedures(TransferThreads& threads)
{
    threads.registerProcedure(ServiceCode::Http, HttpTransfer);
    threads.registerProcedure(ServiceCode::Https, HttpTransfer);
    // FTP URLs whose proxy is a plain HTTP proxy go to the HTTP procedure
    // (TransferThreads::procedureFor); FtpTransfer hands such a task over too.
    threads.registerProcedure(ServiceCode::Ftp, FtpTransfer);
    // MMST URLs fall back to the MMS procedure.
    threads.registerProcedure(ServiceCode::Mms, MmsTransfer);
    threads.registerProcedure(ServiceCode::Rtsp, RtspTransfer);
    registerMirrorProcedures(threads);
}

}  // namespace fetchora

#include "shell/transfer_procedures.h"

#include "engine/transfer_threads.h"
#include "net/http_transfer.h"
#include "net/url_entry.h"

namespace fetchora {

void registerTransferProcedures(TransferThreads& threads)
{
    threads.registerProcedure(ServiceCode::Http, HttpTransfer);
    threads.registerProcedure(ServiceCode::Https, HttpTransfer);
}

}  // namespace fetchora

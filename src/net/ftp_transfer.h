#pragma once
// The FTP worker: fetches one part's byte range of an "ftp://" URL over a
// control connection and a data connection, directly, through a SOCKS or
// CONNECT tunnel, or through an FTP proxy that is told the site in its login
// dialogue, and reports to the job window through its PartChannel like the
// HTTP worker. An FTP URL whose proxy is a plain HTTP proxy (type 3) is
// handed to the HTTP worker.
//
// Each cycle connects, logs in, probes REST, asks for the size, reports the
// answer, opens the data connection (passive: to the server's own address,
// or a new tunnel through the same proxy; active: a listener that takes only
// the server's connection), sends REST and RETR and hands the data over at
// the file offsets it belongs to. It ends in a new cycle (the part got a new
// range), in the error step, or in the end of the worker.
//
// Thread: the part's transfer thread. Owns its connections and buffer;
// borrows the task's channel and limiter.
#include "net/transfer_channel.h"

namespace fetchora {

// The thread procedure. 0 ended (stopped, the job window ended it), 1
// finished (a file of unknown size ended), 2 failed (the file was not found
// under any form of its path, the host name could not be resolved, or the
// job window refused a retry).
int FtpTransfer(TransferTask& task);

}  // namespace fetchora

#pragma once
// Which thread procedure serves which URL service. Every front end registers
// the same set, so a protocol added here is available everywhere.
//
// Thread: called once on the loop thread while the application starts.
namespace fetchora {

class TransferThreads;

void registerTransferProcedures(TransferThreads& threads);

}  // namespace fetchora

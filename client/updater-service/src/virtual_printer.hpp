#pragma once
// "VPRINTER ensure": the PDF-file printer "Kestrivon Printer", its port file and spool
// folder, created or repaired by a PowerShell script the service carries.
#include <string>
#include <string_view>

#include "log_sink.hpp"
#include "result.hpp"

namespace kv {

extern const std::string_view virtual_printer_script;

// Runs the script; returns its outcome word ("added", "repaired", "present") or the error.
Result<std::string> ensure_virtual_printer();

// The job thread's body: ensure, then log the outcome.
void run_virtual_printer_job(const LogSink& log);

}  // namespace kv

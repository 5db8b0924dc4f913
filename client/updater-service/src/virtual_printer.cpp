#include "virtual_printer.hpp"

#include <chrono>

#include "child_process.hpp"
#include "data_paths.hpp"
#include "ensure_job_rules.hpp"

namespace kv {

using namespace std::chrono_literals;

// Stops at the first failing cmdlet. Every grant is spelled out so that nothing inherited from
// ProgramData lets one customer read or change another's print jobs.
const std::string_view virtual_printer_script = R"PS($ErrorActionPreference = 'Stop'
$name = $env:KV_VP_NAME
$dir = $env:KV_VP_DIR
$port = Join-Path $dir $env:KV_VP_FILE
$driver = 'Microsoft Print To PDF'
New-Item -ItemType Directory -Force -Path $dir | Out-Null
& icacls.exe $dir /inheritance:r /grant:r '*S-1-5-18:(OI)(CI)F' '*S-1-5-32-544:(OI)(CI)F' '*S-1-3-0:(OI)(CI)(IO)M' '*S-1-5-32-545:(RD,AD,WD,X,RA,REA,RC,S)' | Out-Null
if ($LASTEXITCODE -ne 0) { throw 'spool directory access list could not be set' }
& icacls.exe $dir /remove:g '*S-1-1-0' '*S-1-5-11' | Out-Null
if (-not (Get-PrinterDriver -Name $driver -ErrorAction SilentlyContinue)) {
    try { Enable-WindowsOptionalFeature -Online -FeatureName 'Printing-PrintToPDFServices-Features' -All -NoRestart | Out-Null } catch { }
    if (-not (Get-PrinterDriver -Name $driver -ErrorAction SilentlyContinue)) { throw 'Microsoft Print To PDF driver is not available' }
}
if (-not (Get-PrinterPort -Name $port -ErrorAction SilentlyContinue)) { Add-PrinterPort -Name $port }
$printer = Get-Printer -Name $name -ErrorAction SilentlyContinue
if (-not $printer) {
    Add-Printer -Name $name -DriverName $driver -PortName $port
    $outcome = 'added'
} elseif ($printer.PortName -ne $port -or $printer.DriverName -ne $driver) {
    Set-Printer -Name $name -DriverName $driver -PortName $port
    $outcome = 'repaired'
} else {
    $outcome = 'present'
}
& rundll32.exe printui.dll,PrintUIEntry /Xs /n $name attributes +queued +keepprintedjobs
Write-Output $outcome
)PS";

Result<std::string> ensure_virtual_printer() {
    ChildRun run;
    run.program = (system_directory() / L"WindowsPowerShell" / L"v1.0" / L"powershell.exe").wstring();
    run.arguments = {L"-NoProfile", L"-NonInteractive", L"-ExecutionPolicy", L"Bypass", L"-Command",
                     std::wstring(virtual_printer_script.begin(), virtual_printer_script.end())};
    run.console = ChildConsole::hidden;
    run.capture_output = true;
    run.capture_error = true;
    run.time_limit = ChildTimeLimit{180s, 200ms, 0ms};
    run.environment = {{L"KV_VP_NAME", L"Kestrivon Printer"},
                       {L"KV_VP_DIR", (program_data_base() / L"Kestrivon" / L"PrintSpool").wstring()},
                       {L"KV_VP_FILE", L"job.pdf"}};
    auto started = start_child(run);
    if (!started) return fail("powershell did not start: " + started.error());
    // A failed wait or output read is reported as the system says it, without the prefix.
    const auto ran = started->finish();
    if (!ran) return fail(ran.error());
    if (ran->timed_out) return fail("did not finish in 180 s");
    return interpret_powershell_result(ran->exit_code, ran->output, ran->error_output);
}

void run_virtual_printer_job(const LogSink& log) {
    const auto outcome = ensure_virtual_printer();
    log(outcome ? "virtual printer ensure ok: " + *outcome : "virtual printer ensure failed: " + outcome.error());
}

}  // namespace kv

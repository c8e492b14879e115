// Tamborex: turns a game controller into a MIDI controller.

#include <iostream>

#include "platform/command_line.h"
#include "platform/nsm.h"
#include "platform/termination.h"
#include "tamborex/app/headless.h"
#include "tamborex/app/patch_text.h"
#include "tamborex_app.h"

int main(int argc, char** argv) {
    static const platform::ProgramInfo kInfo{
        "Tamborex",
        "tamborex",
        TBX_VERSION,
        "Turns a game controller into a MIDI controller: axes to controllers, pitch bend or\n"
        "NRPN, buttons to notes, arpeggios, pedals, program and song messages, SysEx and\n"
        "patch changes, from a bank of 128 patches.",
        "--bank-dir",
        "the bank, Tamborex.bnk,",
        "  Tamborex.bnk            the bank: 128 entries, presets and the global settings\n"
        "  Tamborex.ini            the MIDI system, the input port's name, where OSC goes and\n"
        "                          is heard\n"
        "  Tamborex.ports          whole names of ports too long for a patch file\n"
        "  Tamborex.recovered.txp  unsaved edits kept when Tamborex was ended by a signal\n"
        "  Tamborex.session.bnk    the session's bank when Tamborex.bnk could not be read\n"
        "  Tamborex.session.ini    the session's settings when Tamborex.ini could not be read\n"
        "  .Tamborex.lock          keeps a second Tamborex off the folder while one plays it\n"
        "  *.txp                   patch files, wherever they are saved (the bank stores their "
        "paths)\n"
        "All but the patch files are in the bank's folder.\n",
        "play the bank with no window at all (a stage computer without\n"
        "                  a screen, a service); messages go to the error stream\n",
        true};
    platform::CommandLine line;
    if (const int exitCode = platform::StartFromCommandLine(argc, argv, kInfo, line);
        exitCode >= 0) {
        return exitCode;
    }
    // A patch file as text and back: files only, before anything that needs a display.
    if (!line.exportPatch.empty()) {
        return ExportPatchText(line.exportPatch, std::cout, std::cerr);
    }
    if (!line.importPatch.empty()) {
        return ImportPatchText(line.importPatch, line.importPatchOut, std::cerr);
    }
    // From here on a termination signal waits for the event loop, however early it comes: the
    // run then ends as it would later, saving the bank.
    (void)platform::WatchTerminationSignals();
    if (line.headless) {
        return RunHeadless(argc, argv, line);
    }
    CTamborexApp app(argc, argv);
    app.SetOscOverrides(line.oscOut, line.oscIn);
    if (const std::string url = platform::NsmUrlFromEnvironment(); !url.empty()) {
        return app.RunUnderSessionManager(url, line.midi);
    }
    return app.InitInstance(line.midi);
}

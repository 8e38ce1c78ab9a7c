#include "app/StudioHelp.h"

#include "base/Mon.h"
#include "core/Settings.h"

std::string StudioInfoText(const std::vector<std::string>& params)
{
    TRACE("StudioHelp.StudioInfoText");
    for (size_t i = 1; i < params.size(); ++i) {
        const std::string& p = params[i];
        if (p == "--version") return std::string("kelvane-studio ") + APP_VERSION + "\n";
        if (p == "--help" || p == "-h")
            return "Usage: kelvane-studio [--drive PATH [--partition N]] [/inst | /change | /uninst]\n"
                   "       kelvane-studio --help | --version\n"
                   "\n"
                   "Manages the start-up and shut-down logos of Windows 95/98 and a store of logo images.\n"
                   "Without a switch the main window opens; its Help menu holds the manual.\n"
                   "\n"
                   "  --drive PATH     the Windows drive: a folder holding a WINDOWS folder, or a disk image\n"
                   "  --partition N    the partition (1-4) of a disk image's MBR\n"
                   "  /inst            new logos, the automatic change at every Windows start, the logo on\n"
                   "  /change          new logos by the configured pick methods\n"
                   "  /uninst          the automatic change off and the previous logos back\n"
                   "  --help, --version  print this text or the version, and end\n"
                   "\n"
                   "The switches run without the window. For scripts and machines without a display use kvs\n"
                   "(kvs --help); man kelvane-studio says more.\n";
    }
    return std::string();
}

std::string StudioNoDisplayText()
{
    TRACE("StudioHelp.StudioNoDisplayText");
    return "kelvane-studio: cannot open the main window: no display is available (DISPLAY and WAYLAND_DISPLAY are "
           "not set).\n"
           "Start it from a desktop session, over ssh with X forwarding (ssh -X), or under a virtual display "
           "(xvfb-run kelvane-studio); the switches /inst, /change and /uninst and the kvs tool need no display.\n";
}

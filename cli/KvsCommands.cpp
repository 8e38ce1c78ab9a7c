// The command table of kvs: one line per command. Keep the order of "kvs --help".
#include "cli/KvsCommands.h"

#include "base/Mon.h"

const std::vector<KvsCommand>& KvsCommandTable()
{
    TRACE("KvsCommands.KvsCommandTable");
    static const std::vector<KvsCommand> table = {
        {"drives", CmdDrives, "[--json] [--add DIR]",
         "list the Windows 95/98 drives and disk images found here",
         "Lists the Windows 95/98 installations found: mounted FAT file systems whose root holds\n"
         "MSDOS.SYS and WINDOWS\\WIN.COM, then disk images (raw, partitioned, fixed VHD) in the\n"
         "folders of 86Box, PCem, QEMU/libvirt, GNOME Boxes, VirtualBox and DOSBox-X, in the added\n"
         "folders (Bochs keeps no folder of its own) and in the home folder to depth 3; last the\n"
         "containers that must be converted first (QCOW2, VMDK, VDI, dynamic VHD).\n"
         "One line each: * for the drive in use, the number --drive takes, path (and partition),\n"
         "kind, Windows version, label, size and free space, separated by tabs. The search reads\n"
         "only and stops after one second.\n"
         "A partition that is not mounted is not searched: udisksctl mount -b /dev/sdXN mounts it.\n"
         "--add DIR adds a folder to search from now on. With --json prints one JSON array of\n"
         "objects {\"number\", \"current\", \"path\", \"partition\", \"kind\", \"place\",\n"
         "\"windows\", \"label\", \"size\", \"free\", \"usable\", \"problem\"}."},
        {"inst", CmdInst, "",
         "the /inst action: new logos, Run entry, Logo=1 in MSDOS.SYS",
         "Runs the /inst action of kelvane-studio: the start-up sequence, new logos for all three\n"
         "positions, the registry Run entry (whatever AutoChange holds), the Logo option in\n"
         "MSDOS.SYS and the closing message; then the settings are saved."},
        {"change", CmdChange, "",
         "the /change action: new logos by the pick methods",
         "Runs the /change action of kelvane-studio: the start-up sequence, new logos for the\n"
         "three positions picked by LogoPickMethod and MsgPickMethod, and the settings saved\n"
         "(the advanced pick counters with them)."},
        {"uninst", CmdUninst, "",
         "the /uninst action: Run entry off, previous logos back",
         "Runs the /uninst action of kelvane-studio: removes the registry Run entry, restores the\n"
         "logos that were there before, and asks whether to delete the stored images\n"
         "(--yes or --no answers without asking)."},
        {"list", CmdList, "[--json]",
         "list the stored images",
         "Prints one line per stored image, in store order: name, positions (start, wait, off\n"
         "or -), file size in bytes, from-logo flag (1 or 0) and first animated palette entry,\n"
         "separated by tabs. With --json prints one JSON array of objects\n"
         "{\"name\", \"positions\", \"size\", \"fromLogoFile\", \"animStart\"}."},
        {"set", CmdSet, "NAME [--startup] [--wait] [--off] [--message-startup T] [--message-wait T] [--message-off T]",
         "build the chosen logos from one stored image now",
         "Builds the logo files of the chosen positions from the stored image NAME (with or\n"
         "without .png), as the window's Set as Logo does. Each position's message is picked by\n"
         "MsgPickMethod (every position's message counter moves once, as when the dialog opens);\n"
         "--message-startup/--message-wait/--message-off give the text instead (\\n between lines,\n"
         "an empty text draws no message). At least one position must be chosen."},
        {"shuffle", CmdShuffle, "",
         "set random logos for all three positions",
         "Picks an image at random for each position (messages by MsgPickMethod) and builds the\n"
         "three logo files, as the window's Shuffle does."},
        {"add", CmdAdd, "[--mode border|crop|stretch] [--prefix P] [--clash ask|overwrite|skip|abort] FILE...",
         "add pictures to the image store",
         "Loads every FILE (any readable picture format; *.sys logo files as bitmaps), fits it to\n"
         "320 x 400 by the resize mode, reduces it to the logo palette and stores it as\n"
         "<prefix>--<name>.png; a name that already has a prefix loses it. Prints the stored\n"
         "names. --mode and --prefix are stored as the ResizeMode and DefPrefix settings.\n"
         "--clash says what to do when the stored name exists: overwrite, skip, abort (stop\n"
         "adding), or ask (on a terminal; aborts when no answer can be read). Without --clash\n"
         "the question is asked, and --yes overwrites, --no skips.\n"
         "A file that cannot be loaded is reported and the others are still added (exit 1)."},
        {"positions", CmdPositions, "MASK NAME...",
         "choose the positions at which images are used",
         "Sets the position mask of every NAME: MASK is 0..7 (1 Startup, 2 Wait, 4 Turn Off)\n"
         "or a list such as start,off (start, wait, off; - for none). Shuffle and the automatic\n"
         "change use an image only at its positions. NAME may be given with or without .png."},
        {"rename", CmdRename, "OLD NEW",
         "rename a stored image",
         "Renames the image OLD to NEW (.png is added). Characters not allowed in a name\n"
         "become _. Prints the new name."},
        {"prefix", CmdPrefix, "NEWPREFIX NAME...",
         "change the prefix of stored images",
         "Replaces everything up to and including the first -- of every NAME by NEWPREFIX and\n"
         "--, and prints how many images were renamed."},
        {"delete", CmdDelete, "NAME...",
         "delete stored images",
         "Deletes the images and their files from the storage folder after asking\n"
         "(the answer is No unless --yes is given or a terminal answers Yes)."},
        {"restore", CmdRestore, "",
         "restore the previous logos",
         "Asks, then carries out restore.bat of the backup folder: the logo files that existed\n"
         "before the program first replaced them come back, the ones that did not are deleted."},
        {"paths", CmdPaths, "",
         "print the folders and logo files in use",
         "Prints windows=, program=, storage=, backup= and logo.startup=, logo.wait=, logo.off=\n"
         "lines: where the program reads and writes its files."},
        {"gallery", CmdGallery, "create FILE [--prefix P] NAME... | open FILE [--as PREFIX | --overwrite]",
         "create or open a gallery file (*.gal)",
         "gallery create FILE [--prefix P] NAME...\n"
         "    packs the named images (two or more) into the gallery FILE (.gal is added when FILE\n"
         "    has no extension) under the image prefix P (default: FILE's name). An existing FILE\n"
         "    is replaced only with --yes. Prints the summary with the download times.\n"
         "gallery open FILE [--as PREFIX | --overwrite]\n"
         "    unpacks every image of FILE into the store as <prefix>--<name>.png, the prefix being\n"
         "    the gallery's own or PREFIX. When stored images already begin with that prefix the\n"
         "    question is asked; --overwrite answers it with overwrite."},
        {"convert", CmdConvert, "IN OUT [--format ID] [--resize W H | --resample W H] [--colors N [--dither none|ordered|diffusion]]",
         "convert a picture file, optionally scaled and reduced",
         "Loads IN through the format reader its extension names, then in this order:\n"
         "  --resize W H      nearest-neighbour scaling (8-bit pictures stay 8-bit)\n"
         "  --resample W H    averaging scaling (the result has 24 bits)\n"
         "  --colors N        reduction to an optimised palette of N colours (2..256), remapped\n"
         "                    with --dither none (default), ordered or diffusion\n"
         "and writes OUT in the format of its extension, or of --format ID (1 TGA, 2 PCX, 3 BMP,\n"
         "8 JPEG, 9 PNG, 10 TIFF, 13 SGI, 14 Sun raster, 15 PNM, 17 XPM). Prints the written\n"
         "file with format=, width=, height=, bpp= (the depth stored in the file)."},
        {"info", CmdInfo, "FILE",
         "print a picture's format, size and depth",
         "Loads FILE through the format reader its extension names and prints\n"
         "format=NAME width=W height=H bpp=B, for example format=BMP width=320 height=400 bpp=8."},
        {"settings", CmdSettings, "[KEY [VALUE]]",
         "print all settings, one setting, or set one",
         "Without arguments prints every setting of Kvs.ini as KEY=VALUE, in the file's order.\n"
         "With KEY prints that setting. With KEY VALUE stores the value as the program reads it\n"
         "at start-up (booleans by their first character: 1/T/Y or 0/F/N; a malformed integer\n"
         "gives the default) and saves the settings. Key names ignore case."},
        {"debug-info", CmdDebugInfo, "",
         "print the debug report",
         "Prints the debug report (memory, system, folders, logo files, pick methods, number of\n"
         "stored images, automatic change)."},
    };
    return table;
}

const KvsCommand* KvsFindCommand(const std::string& name)
{
    TRACE("KvsCommands.KvsFindCommand");
    for (const KvsCommand& c : KvsCommandTable())
        if (name == c.name) return &c;
    return nullptr;
}

// A made-up home folder with Windows 95/98 disk images where emulators keep them, made by real
// tools (mkfs.fat, sfdisk, mtools, qemu-img), and a made-up mount table naming folder drives.
// The environment points at them ($HOME, $KVS_MOUNTINFO, no $XDG_*) while the object lives.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/TempDir.h"

class MadeUpHome {
public:
    TempDir tmp;
    std::string home, mounts;

    MadeUpHome()
    {
        namespace fs = std::filesystem;
        home = tmp / "home";
        mounts = tmp / "mountinfo";
        for (const char* v : {"HOME", "KVS_MOUNTINFO", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            if (const char* old = getenv(v)) saved_[v] = old;
        setenv("HOME", home.c_str(), 1);
        setenv("KVS_MOUNTINFO", mounts.c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");

        Image("/.local/share/86Box/Windows 95/hdd.img", "fat16", "");
        Image("/.local/share/gnome-boxes/images/win98", "fat16", "4.10.1998");
        Image("/VirtualBox VMs/w98/w98.vhd", "vhd", "4.10.2222");
        Image("/vms/w98/disk.img", "mbr-fat32", "4.10.1998");
        fs::create_directories(home + "/.local/share/libvirt/images");
        Sh("qemu-img create -q -f qcow2 " + Q(home + "/.local/share/libvirt/images/win98.qcow2") + " 64M");
        // Not Windows drives: a formatted floppy, a FAT image cut short, noise, a pipe, a loop.
        Sh("mkfs.fat -C " + Q(home + "/floppy.img") + " 1440 >/dev/null");
        Image("/vms/cut.img", "fat16", "");
        Sh("truncate -s 100K " + Q(home + "/vms/cut.img"));
        Sh("head -c 300000 /dev/urandom >" + Q(home + "/vms/noise.img"));
        mkfifo((home + "/vms/pipe.img").c_str(), 0600);
        fs::create_directory_symlink(home, home + "/vms/loop");

        // Mounted: two FAT drives with Windows (one with a blank in its name), one without, and a
        // Windows tree on a file system Windows 95/98 cannot be on.
        std::string table = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
        auto mount = [&](const std::string& name, const char* type, const char* winVer) {
            const std::string dir = tmp / ("mnt/" + name);
            fs::create_directories(dir + "/Windows");
            if (winVer) {
                WriteWholeFile(dir + "/Windows/win.com", "\xCD\x20");
                WriteWholeFile(dir + "/msdos.sys", std::string("[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nWinVer=") +
                                                       winVer + "\r\nLogo=1\r\n");
            }
            std::string escaped;
            for (char c : dir) escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
            table += "40 22 8:17 / " + escaped + " rw,relatime shared:2 - " + type + " /dev/sdz9 rw\n";
        };
        mount("c", "vfat", "4.00.950");
        mount("no windows", "vfat", nullptr);
        mount("linux copy", "ext4", "4.10.2222");
        mount("win me", "vfat", "4.90.3000");
        WriteWholeFile(mounts, table);
    }
    ~MadeUpHome()
    {
        for (const char* v : {"HOME", "KVS_MOUNTINFO", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            if (saved_.count(v)) setenv(v, saved_[v].c_str(), 1);
            else unsetenv(v);
        }
    }
    MadeUpHome(const MadeUpHome&) = delete;
    MadeUpHome& operator=(const MadeUpHome&) = delete;

    static std::string Q(const std::string& s)
    {
        std::string r = "'";
        for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return r + "'";
    }
    static int Sh(const std::string& cmd)
    {
        const int raw = std::system(cmd.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    // "image@@offset" as mtools takes it.
    static std::string At(const std::string& image)
    {
        return image + (image.find("disk.img") != std::string::npos ? "@@1048576" : "");
    }

    // A disk image of make-disk-image with WINDOWS/WIN.COM added and MSDOS.SYS naming winVer.
    static void MakeImage(const std::string& path, const char* kind, const std::string& winVer)
    {
        TempDir tmp;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        Sh(Q(std::string(KVS_SOURCE_DIR) + "/scripts/make-disk-image") + " " + Q(path) + " " + kind);
        const std::string win = tmp / "WIN.COM", msdos = tmp / "MSDOS.SYS";
        WriteWholeFile(win, "\xCD\x20");
        std::string cmd = "export MTOOLS_SKIP_CHECK=1; mcopy -i " + Q(At(path)) + " " + Q(win) + " ::/WINDOWS/";
        if (!winVer.empty()) {
            WriteWholeFile(msdos, "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootGUI=1\r\nWinVer=" + winVer + "\r\n");
            cmd += " && mattrib -i " + Q(At(path)) + " -r ::/MSDOS.SYS && mcopy -o -i " + Q(At(path)) + " " + Q(msdos) + " ::/";
        }
        Sh(cmd);
    }

private:
    std::map<std::string, std::string> saved_;

    void Image(const std::string& rel, const char* kind, const std::string& winVer) { MakeImage(home + rel, kind, winVer); }

};

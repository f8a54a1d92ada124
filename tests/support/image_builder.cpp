#include "image_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

std::string RunTool(const std::vector<std::string>& args, const std::string& input) {
    const std::string tool = FindTool(args.front());
    if (tool.empty())
        return "missing tool: " + args.front();
    std::string command = Quoted(tool);
    for (std::size_t i = 1; i < args.size(); ++i)
        command += " " + Quoted(args[i]);
    command += " <" + Quoted(input) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return "cannot run " + args.front();
    std::string output;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    const int status = ::pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return "";
    return args.front() + " failed (" + std::to_string(status) + "): " + output;
}

namespace {

std::uint64_t TreeBytes(const fs::path& tree) {
    std::uint64_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(tree))
        if (e.is_regular_file())
            total += (e.file_size() + 4095) / 4096 * 4096 + 4096;
    return total;
}

// Room for the tree's files, their folders and the file system's own records.
std::uint64_t SizeFor(const fs::path& tree) {
    const std::uint64_t mib = 1 << 20;
    return (TreeBytes(tree) * 3 / 2 / mib + 8) * mib;
}

std::string Sized(const fs::path& out, std::uint64_t bytes) {
    std::error_code ec;
    fs::remove(out, ec);
    std::ofstream(out, std::ios::binary).close();
    fs::resize_file(out, bytes, ec);
    return ec ? "cannot make " + out.string() + ": " + ec.message() : "";
}

// Copies `from` whole into `to` at `offset`.
std::string CopyInto(const fs::path& from, const fs::path& to, std::uint64_t offset) {
    std::ifstream in(from, std::ios::binary);
    std::fstream out(to, std::ios::binary | std::ios::in | std::ios::out);
    if (!in || !out)
        return "cannot copy " + from.string() + " into " + to.string();
    out.seekp(static_cast<std::streamoff>(offset));
    out << in.rdbuf();
    return out ? "" : "cannot write " + to.string();
}

} // namespace

std::string FindTool(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/local/sbin:/usr/sbin:/sbin";
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find(':', at), path.size());
        const fs::path candidate = fs::path(path.substr(at, end - at)) / name;
        at = end + 1;
        if (!candidate.parent_path().empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return "";
}

std::string MakeFileSystem(const std::string& type, const fs::path& tree, const fs::path& out) {
    std::uint64_t bytes = SizeFor(tree);
    if (type == "fat32") // FAT32 wants some 65,000 clusters at least
        bytes = std::max<std::uint64_t>(bytes, 64 << 20);
    if (type == "ext4")
        return RunTool({"mke2fs", "-q", "-F", "-t", "ext4", "-d", tree.string(), out.string(),
                        std::to_string(bytes / 1024) + "k"});
    if (std::string error = Sized(out, bytes); !error.empty())
        return error;
    if (type == "fat" || type == "fat32") {
        std::vector<std::string> make = {"mkfs.fat", out.string()};
        if (type == "fat32")
            make.insert(make.begin() + 1, {"-F", "32"});
        if (std::string error = RunTool(make); !error.empty())
            return error;
        std::vector<std::string> args = {"mcopy", "-s", "-Q", "-i", out.string()};
        for (const auto& e : fs::directory_iterator(tree))
            args.push_back(e.path().string());
        args.emplace_back("::/");
        return RunTool(args);
    }
    if (type == "ntfs") {
        if (std::string error = RunTool({"mkntfs", "-F", "-Q", "-q", out.string()}); !error.empty())
            return error;
        const fs::path wim = out.string() + ".wim";
        if (std::string error = RunTool({"wimlib-imagex", "capture", tree.string(), wim.string(),
                                         "--no-acls", "--compress=none"});
            !error.empty())
            return error;
        std::string error = RunTool({"wimlib-imagex", "apply", wim.string(), "1", out.string()});
        fs::remove(wim);
        return error;
    }
    return "unknown file system " + type;
}

std::string MakePartitionedDisk(const std::string& table, const std::vector<fs::path>& fileSystems,
                                const fs::path& out) {
    const std::uint64_t mib = 1 << 20;
    std::uint64_t at = mib;
    std::string script = "label: " + table + "\n";
    std::vector<std::uint64_t> starts;
    for (const fs::path& f : fileSystems) {
        const std::uint64_t size = (fs::file_size(f) + mib - 1) / mib * mib;
        starts.push_back(at);
        script += "start=" + std::to_string(at / 512) + ", size=" + std::to_string(size / 512) +
                  (table == "gpt" ? ", type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n" : ", type=7\n");
        at += size + mib;
    }
    if (std::string error = Sized(out, at + mib); !error.empty())
        return error;
    const fs::path scriptFile = out.string() + ".sfdisk";
    std::ofstream(scriptFile) << script;
    std::string error = RunTool({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", out.string()},
                                scriptFile.string());
    fs::remove(scriptFile);
    for (std::size_t i = 0; error.empty() && i < fileSystems.size(); ++i)
        error = CopyInto(fileSystems[i], out, starts[i]);
    return error;
}

std::string ConvertImage(const fs::path& raw, const std::string& format, const fs::path& base,
                         fs::path& named) {
    if (format == "split") {
        // Three pieces or more: .001, .002... as split(1) and the acquisition tools write.
        const std::uint64_t size = fs::file_size(raw), piece = (size / 3 + 511) / 512 * 512;
        std::ifstream in(raw, std::ios::binary);
        std::vector<char> buffer(piece);
        for (int n = 1; in; ++n) {
            in.read(buffer.data(), static_cast<std::streamsize>(piece));
            if (in.gcount() == 0)
                break;
            const std::string number = std::to_string(n);
            const std::string suffix =
                "." + std::string(3 - std::min<std::size_t>(3, number.size()), '0') + number;
            std::ofstream(base.string() + suffix, std::ios::binary)
                .write(buffer.data(), in.gcount());
        }
        named = base.string() + ".001";
        return "";
    }
    if (format == "E01") {
        named = base.string() + ".E01";
        // Segments of 1 MiB, so that a small disk still spans several (.E01, .E02...).
        return RunTool({"ewfacquire", "-u", "-q", "-t", base.string(), "-f", "encase6", "-c",
                        "none", "-S", "1048576", raw.string()});
    }
    if (format == "vhd" || format == "vmdk") {
        named = base.string() + "." + format;
        return RunTool({"qemu-img", "convert", "-q", "-f", "raw", "-O",
                        format == "vhd" ? "vpc" : "vmdk", raw.string(), named.string()});
    }
    return "unknown image format " + format;
}

} // namespace testing_support

// input.cpp - reading inputs: the file or standard input, then a source, a
// descriptor or either; and the adapter over the printf parser.
#include "input.h"

#include "diagnostics.h"
#include "printf_format.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace errmc {

// ---------------------------------------------------------------- the bytes

InputFile::~InputFile() {
    if (map_) ::munmap(map_, mapSize_);
}

namespace {

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads fd to its end, up to `limit` bytes; false with *why set.
bool ReadAll(int fd, std::size_t limit, std::string &out, std::string *why) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *why = std::string("cannot read: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) return true;
        if (out.size() + static_cast<std::size_t>(n) > limit) {
            *why = "larger than errmc's limit of " + std::to_string(limit) + " bytes";
            return false;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
}

} // namespace

bool InputFile::Open(const std::string &path, std::string *why) {
    if (path == "-") {
        if (!ReadAll(STDIN_FILENO, kMaxStdinBytes, owned_, why)) return false;
        view_ = owned_;
        return true;
    }
    // Opened without blocking, so that a FIFO or a device is refused, not
    // waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    const FdCloser closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = "not a regular file";
        return false;
    }
    if (st.st_size == 0) return true;
    void *map = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        *why = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    map_ = map;
    mapSize_ = static_cast<std::size_t>(st.st_size);
    view_ = std::string_view(static_cast<const char *>(map), mapSize_);
    return true;
}

bool InputFile::IsDescriptor() const {
    if (Size() < 4) return false;
    const std::uint8_t *b = Data();
    const std::uint32_t word = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
    return word == errmdesc::kMagic;
}

std::string ShownName(const std::string &path) {
    return path == "-" ? "<stdin>" : path;
}

// ----------------------------------------------------- sources, descriptors

namespace {

std::optional<Source> SourceOf(const InputFile &file, const std::string &name, Streams io) {
    Diagnostics diags(io.Werror());
    std::optional<Source> source = ParseSourceInput(file.Text(), name, diags);
    io.Print(diags, name, file.Size() > kMaxSourceBytes ? std::string_view{} : file.Text());
    return source;
}

bool DescriptorOf(const InputFile &file, const std::string &name, errmdesc::Catalogue *cat,
                  errmdesc::ReadInfo *info, Streams io) {
    std::string why;
    if (errmdesc::Read(file.Data(), file.Size(), cat, info, &why)) return true;
    io.Error(name + ": " + why);
    return false;
}

} // namespace

std::optional<Source> ReadSource(const std::string &path, Streams io) {
    Diagnostics diags(io.Werror());
    std::string text;
    std::optional<Source> source = ParseSourceFile(path, diags, &text);
    io.Print(diags, ShownName(path), text);
    return source;
}

bool DecodeDescriptorFile(const std::string &path, errmdesc::Catalogue *cat,
                          errmdesc::ReadInfo *info, std::string *why, bool *unreadable) {
    InputFile file;
    *unreadable = !file.Open(path, why);
    return !*unreadable && errmdesc::Read(file.Data(), file.Size(), cat, info, why);
}

bool ReadDescriptor(const std::string &path, errmdesc::Catalogue *cat, errmdesc::ReadInfo *info,
                    Streams io) {
    std::string why;
    bool unreadable = false;
    if (DecodeDescriptorFile(path, cat, info, &why, &unreadable)) return true;
    if (unreadable)
        io.Unusable(ShownName(path) + ": " + why);
    else
        io.Error(ShownName(path) + ": " + why);
    return false;
}

std::optional<InputCatalogue> ReadAnyCatalogue(const std::string &path, Streams io) {
    const std::string name = ShownName(path);
    InputFile file;
    std::string why;
    if (!file.Open(path, &why)) {
        io.Unusable(name + ": " + why);
        return std::nullopt;
    }
    InputCatalogue in;
    if (file.IsDescriptor()) {
        in.fromDescriptor = true;
        errmdesc::ReadInfo info;
        if (!DescriptorOf(file, name, &in.cat, &info, io)) return std::nullopt;
        if (!info.digestMatches)
            io.Warning(name + ": the digest does not match the checksummed range");
        return in; // the directory is in number order
    }
    std::optional<Source> source = SourceOf(file, name, io);
    if (!source) return std::nullopt;
    in.cat = std::move(source->cat);
    std::stable_sort(in.cat.messages.begin(), in.cat.messages.end(),
                     [](const errmdesc::Message &a, const errmdesc::Message &b) {
                         return a.number < b.number;
                     });
    return in;
}

std::vector<Parameter> FormatParameters(std::string_view format, bool *usable) {
    ParsedFormat parsed = ParsePrintfFormat(format);
    if (usable) *usable = parsed.problems.empty();
    std::vector<Parameter> out;
    for (FormatArgument &a : parsed.arguments)
        out.push_back({std::move(a.ctype), std::move(a.conversion), a.starArgument});
    return out;
}

std::optional<Source> ParseSourceFile(const std::string &path, Diagnostics &diags,
                                      std::string *textOut) {
    if (textOut) textOut->clear();
    InputFile file;
    std::string why;
    if (!file.Open(path, &why)) {
        // "cannot open: ..." reads "cannot open the source: ..."; "not a
        // regular file" reads "the source is not a regular file".
        const std::size_t colon = why.find(':');
        diags.Unreadable(colon == std::string::npos ? "the source is " + why
                                                    : why.insert(colon, " the source"));
        return std::nullopt;
    }
    if (textOut && file.Size() <= kMaxSourceBytes) *textOut = file.Text();
    return ParseSourceInput(file.Text(), ShownName(path), diags);
}

} // namespace errmc

#include "files.h"

namespace fakes {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The path helpers work on the text alone, as the real ones do.
std::wstring withoutTrailingSeparators(std::wstring path) {
    while (!path.empty() && isSeparator(path.back()) && !(path.size() == 3 && path[1] == L':')) path.pop_back();
    return path;
}

std::wstring fileName(const std::wstring& path) {
    std::wstring p = withoutTrailingSeparators(path);
    if (p.size() <= 3 && p.size() >= 2 && p[1] == L':') return L"";
    std::size_t sep = p.find_last_of(L"\\/:");
    return sep == std::wstring::npos ? p : p.substr(sep + 1);
}

std::wstring parentFolder(const std::wstring& path) {
    std::wstring p = withoutTrailingSeparators(path);
    std::size_t sep = p.find_last_of(L"\\/");
    if (sep == std::wstring::npos) return L"";
    std::wstring parent = withoutTrailingSeparators(p.substr(0, sep + 1));
    if (parent.size() == 3 && parent[1] == L':') return parent;
    while (!parent.empty() && isSeparator(parent.back())) parent.pop_back();
    return parent;
}

std::wstring extension(const std::wstring& path) {
    std::wstring name = fileName(path);
    std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? L"" : name.substr(dot + 1);
}

std::wstring baseName(const std::wstring& path) {
    std::wstring name = fileName(path);
    std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring buildPath(const std::wstring& path, std::wstring name) {
    if (path.empty()) return name;
    if (isSeparator(path.back()) || path.back() == L':') {
        while (!name.empty() && isSeparator(name[0]) && isSeparator(path.back())) name.erase(0, 1);
        return path + name;
    }
    return isSeparator(name.empty() ? L' ' : name[0]) ? path + name : path + L"\\" + name;
}

class File : public Fake {
public:
    explicit File(const FileEntry* file) : Fake("File"), file_(file) {}

protected:
    void answer(Call& c) override {
        if (c.member == "Size") return c.reply.number(double(utf8(file_->text).size()));
        if (c.member == "DateLastModified") return c.reply.date(file_->modified);
        if (c.member == "Path") return c.reply.text(file_->path);
        if (c.member == "Name") return c.reply.text(fileName(file_->path));
        if (c.member == "OpenAsTextStream") {
            long mode = 1;
            if (c.args.given(0) && (!c.args.integer(0, mode) || mode != 1))
                return c.reply.fail(notFaked("File", "OpenAsTextStream for writing"));
            return give(c.reply, newTextStream(&file_->text));
        }
        notFakedCall(c);
    }

private:
    const FileEntry* file_;
};

class Files : public Fake {
public:
    explicit Files(std::vector<const FileEntry*> files) : Fake("Files"), files_(std::move(files)) {}

protected:
    void answer(Call& c) override {
        if (c.member == "Count") return c.reply.number(double(files_.size()));
        if (c.member == "Item") {
            std::wstring name;
            c.args.text(0, name);
            for (const FileEntry* f : files_)
                if (foldCase(fileName(f->path)) == foldCase(name)) return give(c.reply, make<File>(f));
            return c.reply.fail(fileError(kFileNotFound));
        }
        if (c.member != "_NewEnum") return notFakedCall(c);
        std::vector<ComPtr<IDispatch>> items;
        for (const FileEntry* f : files_) {
            Fake* file = make<File>(f);
            if (!file) throw std::bad_alloc();
            items.emplace_back();
            items.back().attach(file);
        }
        giveEnumerator(c.reply, std::move(items));
    }

private:
    std::vector<const FileEntry*> files_;
};

class Folder : public Fake {
public:
    explicit Folder(std::wstring path) : Fake("Folder"), path_(std::move(path)) {}

protected:
    void answer(Call& c) override {
        if (c.member == "Files") return give(c.reply, make<Files>(machine().filesIn(path_, c.at.run)));
        if (c.member == "Path") return c.reply.text(path_);
        if (c.member == "Name") return c.reply.text(fileName(path_));
        notFakedCall(c);
    }

private:
    std::wstring path_;
};

// A path as the objects show it: "\" for "/", no trailing separator.
std::wstring shownPath(std::wstring path) {
    for (wchar_t& ch : path)
        if (ch == L'/') ch = L'\\';
    return withoutTrailingSeparators(path);
}

class FileSystem : public Fake {
public:
    FileSystem() : Fake("FileSystemObject") {}

protected:
    void answer(Call& c) override {
        std::wstring a, b;
        c.args.text(0, a);
        const std::string& m = c.member;
        const Machine& fs = machine();
        unsigned run = c.at.run;
        if (m == "FileExists") return c.reply.boolean(fs.file(a, run) != nullptr);
        if (m == "FolderExists") return c.reply.boolean(fs.folderExists(a, run));
        if (m == "DriveExists") return c.reply.boolean(fs.drive(a, run) != nullptr);
        if (m == "GetFile") {
            const FileEntry* f = fs.file(a, run);
            return f ? give(c.reply, make<File>(f)) : c.reply.fail(fileError(kFileNotFound));
        }
        if (m == "GetFolder") {
            if (!fs.folderExists(a, run)) return c.reply.fail(fileError(kPathNotFound));
            return give(c.reply, make<Folder>(shownPath(a)));
        }
        if (m == "GetDrive") {
            if (driveKey(a).empty()) return c.reply.fail(fileError(kBadArgument));
            const DriveEntry* d = fs.drive(a, run);
            return d ? give(c.reply, newDrive(d)) : c.reply.fail(fileError(kDeviceUnavailable));
        }
        if (m == "Drives") return give(c.reply, newDrives(run));
        if (m == "OpenTextFile") return openTextFile(c, a);
        if (m == "BuildPath") {
            c.args.text(1, b);
            return c.reply.text(buildPath(a, b));
        }
        if (m == "GetFileName") return c.reply.text(fileName(a));
        if (m == "GetBaseName") return c.reply.text(baseName(a));
        if (m == "GetExtensionName") return c.reply.text(extension(a));
        if (m == "GetParentFolderName") return c.reply.text(parentFolder(a));
        notFakedCall(c);
    }

private:
    // Reading only: writing, appending and creating are not faked.
    void openTextFile(Call& c, const std::wstring& path) {
        long mode = 1;
        bool create = false;
        if (c.args.given(1) && (!c.args.integer(1, mode) || mode != 1))
            return c.reply.fail(notFaked("FileSystemObject", "OpenTextFile for writing or appending"));
        const FileEntry* f = machine().file(path, c.at.run);
        if (f) return give(c.reply, newTextStream(&f->text));
        if (c.args.given(2) && c.args.boolean(2, create) && create)
            return c.reply.fail(notFaked("FileSystemObject", "OpenTextFile creating a file"));
        std::wstring parent = parentFolder(path);
        bool folderThere = parent.empty() || machine().folderExists(parent, c.at.run);
        c.reply.fail(fileError(folderThere ? kFileNotFound : kPathNotFound));
    }
};

}  // namespace

Fake* newFileSystem() { return make<FileSystem>(); }

}  // namespace fakes

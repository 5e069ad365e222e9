#include "core/FolderScan.h"

#include "core/Errors.h"
#include "core/FileNames.h"
#include "core/NaturalOrder.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct TDirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

struct TItem {
    QString Path;
    QString Name; // what it is sorted by
    bool Folder = false;
};

QString Unreadable(const QString& folder, int err) {
    return QStringLiteral("\"%1\": %2").arg(folder, SystemErrorText(err));
}

} // namespace

void ScanFolder(const QString& folder, const std::function<bool(const QString&)>& take,
                TFolderScan& out, const std::atomic<bool>& cancel, std::atomic<int64_t>& seen) {
    std::set<std::pair<dev_t, ino_t>> entered;
    // depth first, each folder's items pushed in reverse so that they come off in order
    std::vector<TItem> pending{{folder, {}, true}};
    while (!pending.empty() && !cancel.load(std::memory_order_relaxed)) {
        TItem item = std::move(pending.back());
        pending.pop_back();
        seen.fetch_add(1, std::memory_order_relaxed);
        if (!item.Folder) {
            if (take(item.Path))
                out.Files << item.Path;
            continue;
        }
        const QByteArray encoded = EncodeFileName(item.Path);
        const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            out.Unreadable << Unreadable(item.Path, errno);
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !entered.insert({st.st_dev, st.st_ino}).second) {
            ::close(fd); // entered before, through a link: once is enough
            continue;
        }
        std::unique_ptr<DIR, TDirCloser> dir(::fdopendir(fd));
        if (!dir) {
            const int err = errno;
            ::close(fd);
            out.Unreadable << Unreadable(item.Path, err);
            continue;
        }
        std::vector<TItem> items;
        const QString prefix =
            item.Path.endsWith(QLatin1Char('/')) ? item.Path : item.Path + QLatin1Char('/');
        errno = 0;
        while (const dirent* entry = ::readdir(dir.get())) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                // where a link leads (or what the file system did not say)
                struct stat target {};
                if (::fstatat(::dirfd(dir.get()), name, &target, 0) != 0)
                    continue; // a link that leads nowhere is no file
                isFolder = S_ISDIR(target.st_mode);
            } else if (entry->d_type != DT_REG && entry->d_type != DT_DIR) {
                continue; // pipes, sockets and devices hold no music
            }
            TItem child;
            child.Name = DecodeFileName(QByteArray(name));
            child.Path = prefix + child.Name;
            child.Folder = isFolder;
            items.push_back(std::move(child));
            errno = 0;
        }
        if (errno != 0)
            out.Unreadable << Unreadable(item.Path, errno);
        std::sort(items.begin(), items.end(),
                  [](const TItem& a, const TItem& b) { return NaturalLess(a.Name, b.Name); });
        for (auto it = items.rbegin(); it != items.rend(); ++it)
            pending.push_back(std::move(*it));
    }
}

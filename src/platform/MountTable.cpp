#include "platform/MountTable.h"

#include "platform/KernelConditions.h"
#include "platform/StableHash.h"

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef STATX_MNT_ID_UNIQUE
// Linux 6.8 and later: a mount ID that is never handed out again.
#define STATX_MNT_ID_UNIQUE 0x00004000U
#endif

namespace platform {

namespace {

// One map of answers for each question, the last of which counts them.
constexpr size_t kQuestions = size_t(MountQuestion::BtrfsDiskUuid) + 1;

// Each lasting mount's answers, kept while the conditions stay.
std::mutex mountAnswersMutex;
std::map<quint64, std::optional<quint64>> knownAnswers[kQuestions];

// Where the kernel has no lasting mount ID: answers by a mount's plain ID
// and its device number, kept only while this mount namespace's table stays
// as it was. Both numbers are handed out again only once a mount is gone,
// which the table tells of. Guarded by mountAnswersMutex.
struct PlainMount {
    quint64 mountId = 0;
    quint64 device = 0;
    auto operator<=>(const PlainMount&) const = default;
};
std::map<PlainMount, std::optional<quint64>> knownPlainAnswers[kQuestions];

// The mount table, watched: poll() tells of any mount or unmount in its
// namespace since the last poll on the same open file.
struct MountTableWatch {
    int fd = -1;
    pid_t pid = 0;           // a forked child opens its own
    std::string nameSpace;   // the namespace the open table shows
    quint64 generation = 0;  // counts the times the answers were let go
};
MountTableWatch mountTable;

void forgetPlainAnswers()
{
    for (auto& known : knownPlainAnswers)
        known.clear();
    ++mountTable.generation;
}

// Under mountAnswersMutex: whether the plain answers may be used and kept,
// after letting them go if anything was mounted or unmounted since they
// were. Never where the table cannot be watched.
bool plainAnswersHold()
{
    const std::string nameSpace = mountNamespaceAt("/proc/thread-self/ns/mnt");
    if (nameSpace.empty())
        return false;
    if (mountTable.fd < 0 || mountTable.pid != ::getpid() || mountTable.nameSpace != nameSpace) {
        // A forked child closes only its own copy: the parent's open table,
        // and what its polls have seen, stay the parent's.
        if (mountTable.fd >= 0)
            ::close(mountTable.fd);
        forgetPlainAnswers();
        mountTable.fd = ::open("/proc/thread-self/mountinfo", O_RDONLY | O_CLOEXEC);
        mountTable.pid = ::getpid();
        mountTable.nameSpace = nameSpace;
        return mountTable.fd >= 0;
    }
    pollfd table{mountTable.fd, POLLPRI, 0};
    const int polled = ::poll(&table, 1, 0);
    if (polled == 0)
        return true;
    forgetPlainAnswers();
    if (polled < 0 || (table.revents & POLLNVAL)) {
        ::close(mountTable.fd);
        mountTable.fd = -1;
        return false;
    }
    return true;
}

} // namespace

MountIds mountIdsOf(int fd)
{
    MountIds ids;
    struct statx sx {};
    if (kernelConditions().uniqueMountIds
        && ::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID_UNIQUE, &sx) == 0
        && (sx.stx_mask & STATX_MNT_ID_UNIQUE))
        ids.unique = sx.stx_mnt_id;
    sx = {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &sx) == 0 && (sx.stx_mask & STATX_MNT_ID))
        ids.plain = sx.stx_mnt_id;
    return ids;
}

std::optional<quint64> mountMarkOf(const MountIds& ids)
{
    if (!ids.unique)
        return std::nullopt;
    const KernelConditions conditions = kernelConditions();
    if (conditions.bootId.empty() || conditions.mountNamespace.empty())
        return std::nullopt;
    return stableHash("mount:" + conditions.bootId + ':' + conditions.mountNamespace + ':'
                      + std::to_string(*ids.unique));
}

namespace {

// The mount table's line of the mount `mountId`.
std::optional<std::string> mountLineOf(quint64 mountId)
{
    std::ifstream in(kernelConditions().mountInfo);
    std::string line;
    const std::string id = std::to_string(mountId);
    while (std::getline(in, line))
        if (line.compare(0, id.size() + 1, id + ' ') == 0)
            return line;
    return std::nullopt;
}

} // namespace

std::optional<MountSource> sourceOfMount(quint64 mountId)
{
    const auto line = mountLineOf(mountId);
    if (!line)
        return std::nullopt;
    const size_t separator = line->find(" - ");
    if (separator == std::string::npos)
        return std::nullopt;
    std::istringstream rest(line->substr(separator + 3));
    MountSource mount;
    rest >> mount.type >> mount.source;
    mount.source = unescapedMountField(mount.source);
    return mount;
}

std::optional<std::string> mountPointOf(quint64 mountId)
{
    const auto line = mountLineOf(mountId);
    if (!line)
        return std::nullopt;
    // ID, parent, major:minor, root, mount point.
    std::istringstream fields(*line);
    std::string field;
    for (int i = 0; i < 5; ++i)
        if (!(fields >> field))
            return std::nullopt;
    return unescapedMountField(field);
}

std::optional<dev_t> sourceDeviceOfMount(quint64 mountId)
{
    const auto mount = sourceOfMount(mountId);
    if (!mount || mount->type.rfind("fuse", 0) == 0)
        return std::nullopt;
    struct stat st {};
    if (mount->source.empty() || mount->source[0] != '/' || ::stat(mount->source.c_str(), &st) != 0
        || !S_ISBLK(st.st_mode))
        return std::nullopt;
    return st.st_rdev;
}

std::optional<quint64> oncePerMount(MountQuestion question, dev_t device, const MountIds& ids,
                                    const std::function<std::optional<quint64>()>& compute)
{
    auto& known = knownAnswers[int(question)];
    auto& knownPlain = knownPlainAnswers[int(question)];
    if (ids.unique) {
        {
            std::lock_guard guard(mountAnswersMutex);
            if (const auto found = known.find(*ids.unique); found != known.end())
                return found->second;
        }
        const std::optional<quint64> value = compute();
        std::lock_guard guard(mountAnswersMutex);
        known.emplace(*ids.unique, value);
        return value;
    }
    if (!ids.plain)
        return compute();
    const PlainMount key{*ids.plain, quint64(device)};
    quint64 generation = 0;
    {
        std::lock_guard guard(mountAnswersMutex);
        if (!plainAnswersHold())
            return compute();
        if (const auto found = knownPlain.find(key); found != knownPlain.end())
            return found->second;
        generation = mountTable.generation;
    }
    const std::optional<quint64> value = compute();
    // A change meanwhile is seen by the next look-up, which lets this go too.
    std::lock_guard guard(mountAnswersMutex);
    if (mountTable.generation == generation)
        knownPlain.emplace(key, value);
    return value;
}

void forgetMountAnswers()
{
    std::lock_guard guard(mountAnswersMutex);
    for (auto& known : knownAnswers)
        known.clear();
    forgetPlainAnswers();
}

quint64 mountTableGeneration()
{
    std::lock_guard guard(mountAnswersMutex);
    if (!plainAnswersHold())
        ++mountTable.generation;
    return mountTable.generation;
}

std::string mountNamespaceAt(const char* link)
{
    char buffer[256];
    const ssize_t length = ::readlink(link, buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, size_t(length)) : std::string();
}

std::string unescapedMountField(std::string_view field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()
            && field.substr(i + 1, 3).find_first_not_of("01234567") == std::string_view::npos) {
            out += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += field[i];
    }
    return out;
}

} // namespace platform

#include "support/power_cut_disk.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace fetchora::test {

void PowerCutDisk::reboot()
{
    // The journal may have committed some of the name changes, in order.
    const size_t kept = m_pendingNames.empty() ? 0 : m_random() % (m_pendingNames.size() + 1);
    for (size_t i = 0; i < kept; ++i)
        apply(m_durableNames, m_pendingNames[i]);
    m_pendingNames.clear();
    m_names = m_durableNames;
    for (auto& [number, inode] : m_inodes) {
        // Each write not synced was lost, or reached the disk anyway.
        for (const Write& write : inode.pending) {
            if (m_random() % 2 == 0)
                writeInto(inode.synced, write);
        }
        inode.pending.clear();
    }
    m_descriptors.clear();
    m_dead = false;
    m_cutAt = -1;
}

std::optional<std::string> PowerCutDisk::contents(const std::string& path) const
{
    const auto name = m_names.find(path);
    if (name == m_names.end())
        return std::nullopt;
    const Inode& inode = m_inodes.at(name->second);
    std::string data = inode.synced;
    for (const Write& write : inode.pending)
        writeInto(data, write);
    return data;
}

void PowerCutDisk::removeFilesExcept(const std::string& folder, const std::set<std::string>& keep)
{
    for (auto name = m_names.begin(); name != m_names.end();) {
        const bool mine = name->first.rfind(folder, 0) == 0 && name->first.ends_with(".bin");
        if (mine && !keep.contains(name->first)) {
            m_inodes.erase(name->second);
            m_durableNames.erase(name->first);
            name = m_names.erase(name);
        } else {
            ++name;
        }
    }
}

int PowerCutDisk::open(const std::string& path, int flags)
{
    if (!live())
        return fail(EIO);
    auto name = m_names.find(path);
    if (name == m_names.end()) {
        if ((flags & O_CREAT) == 0)
            return fail(ENOENT);
        // A new file's name is committed with its first synced data,
        // as journalling file systems do for fdatasync.
        const int number = m_nextInode++;
        m_inodes[number] = {};
        m_names[path] = number;
        m_durableNames[path] = number;
        name = m_names.find(path);
    }
    Inode& inode = m_inodes[name->second];
    if ((flags & O_TRUNC) != 0) {
        inode.synced.clear();
        inode.pending.clear();
    }
    return describe(name->second);
}

int PowerCutDisk::makeTemporary(std::string& pattern)
{
    if (!live())
        return fail(EIO);
    const int number = m_nextInode++;
    pattern.replace(pattern.size() - 6, 6, std::to_string(100000 + number));
    m_inodes[number] = {};
    changeName({pattern, number, {}});
    return describe(number);
}

ssize_t PowerCutDisk::write(int fd, std::string_view bytes, std::optional<int64_t> position)
{
    if (!live())
        return fail(EIO);
    Inode* inode = inodeOf(fd);
    if (inode == nullptr)
        return fail(EBADF);
    const int64_t at = position ? *position : length(*inode);
    inode->pending.push_back({at, std::string(bytes)});
    return static_cast<ssize_t>(bytes.size());
}

int PowerCutDisk::sync(int fd)
{
    if (!live())
        return fail(EIO);
    const auto found = m_descriptors.find(fd);
    if (found == m_descriptors.end())
        return fail(EBADF);
    Description& description = *found->second;
    Inode& inode = m_inodes.at(description.inode);
    if (!inode.pending.empty() && m_failEvery != 0 && m_random() % m_failEvery == 0) {
        // The pages could not be written: they are gone.
        inode.pending.clear();
        ++inode.errors;
        ++m_syncsFailed;
    }
    for (const Write& write : inode.pending)
        writeInto(inode.synced, write);
    inode.pending.clear();
    // An error is reported once to each open file, whichever
    // descriptor of it asks first.
    if (description.errorsSeen != inode.errors) {
        description.errorsSeen = inode.errors;
        return fail(EIO);
    }
    return 0;
}

int PowerCutDisk::duplicate(int fd)
{
    if (!live())
        return fail(EIO);
    const auto found = m_descriptors.find(fd);
    if (found == m_descriptors.end())
        return fail(EBADF);
    const int copy = m_nextFd++;
    m_descriptors[copy] = found->second;
    return copy;
}

int PowerCutDisk::close(int fd)
{
    if (!live())
        return fail(EIO);
    return m_descriptors.erase(fd) == 1 ? 0 : fail(EBADF);
}

int64_t PowerCutDisk::size(int fd)
{
    const Inode* inode = inodeOf(fd);
    return inode ? length(*inode) : -1;
}

bool PowerCutDisk::rename(const std::string& from, const std::string& to)
{
    if (!live())
        return false;
    const auto name = m_names.find(from);
    if (name == m_names.end())
        return false;
    changeName({to, name->second, from});
    return true;
}

void PowerCutDisk::unlink(const std::string& path)
{
    if (live())
        changeName({path, -1, {}});
}

void PowerCutDisk::syncFolder()
{
    if (!live())
        return;
    for (const NameChange& pending : m_pendingNames)
        apply(m_durableNames, pending);
    m_pendingNames.clear();
}

bool PowerCutDisk::live()
{
    if (m_dead)
        return false;
    if (m_calls++ == m_cutAt) {
        m_dead = true;
        throw PowerCut{};
    }
    return true;
}

int PowerCutDisk::fail(int error)
{
    errno = error;
    return -1;
}

int PowerCutDisk::describe(int inode)
{
    const int fd = m_nextFd++;
    m_descriptors[fd] = std::make_shared<Description>(Description{inode, m_inodes[inode].errors});
    return fd;
}

PowerCutDisk::Inode* PowerCutDisk::inodeOf(int fd)
{
    const auto found = m_descriptors.find(fd);
    return found == m_descriptors.end() ? nullptr : &m_inodes.at(found->second->inode);
}

int64_t PowerCutDisk::length(const Inode& inode)
{
    auto end = static_cast<int64_t>(inode.synced.size());
    for (const Write& write : inode.pending)
        end = std::max(end, write.position + static_cast<int64_t>(write.bytes.size()));
    return end;
}

void PowerCutDisk::writeInto(std::string& data, const Write& write)
{
    const auto end = static_cast<size_t>(write.position) + write.bytes.size();
    if (data.size() < end)
        data.resize(end, '\0');
    data.replace(static_cast<size_t>(write.position), write.bytes.size(), write.bytes);
}

void PowerCutDisk::changeName(const NameChange& change)
{
    apply(m_names, change);
    m_pendingNames.push_back(change);
}

void PowerCutDisk::apply(std::map<std::string, int>& names, const NameChange& change)
{
    if (!change.from.empty())
        names.erase(change.from);
    if (change.inode < 0)
        names.erase(change.name);
    else
        names[change.name] = change.inode;
}

int PowerCutDiskFiles::open(const std::filesystem::path& path, int flags, mode_t)
{
    return m_disk.open(path.string(), flags);
}

int PowerCutDiskFiles::stat(int fd, OutputFileStat& out)
{
    out.size = m_disk.size(fd);
    out.regular = out.size >= 0;
    return out.regular ? 0 : -1;
}

ssize_t PowerCutDiskFiles::pwrite(int fd, std::span<const uint8_t> data, int64_t position)
{
    return m_disk.write(fd, {reinterpret_cast<const char*>(data.data()), data.size()}, position);
}

ssize_t PowerCutDiskFiles::pread(int, std::span<uint8_t>, int64_t)
{
    errno = EINVAL;
    return -1;
}

int PowerCutDiskFiles::fallocate(int, int64_t)
{
    errno = EOPNOTSUPP;
    return -1;
}

int PowerCutDiskFiles::ftruncate(int, int64_t)
{
    errno = EINVAL;
    return -1;
}

}  // namespace fetchora::test

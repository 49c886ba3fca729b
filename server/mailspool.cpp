#include "mailspool.h"

#include "writeall.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const char suffix[] = ".mail";

bool makeFolder(const std::string &path, std::string &error)
{
    // mkdir -p for the folder and its parents.
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = path.find('/', slash + 1);
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0750) != 0 && errno != EEXIST) {
            error = part + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat info {
    };
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + ": not a folder";
        return false;
    }
    return true;
}

void syncFolder(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool endsWith(const std::string &text, const char *tail)
{
    const std::size_t length = std::strlen(tail);
    return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

} // namespace

std::string serializeSpooledMail(const SpooledMail &mail)
{
    return "from " + mail.sender + "\n" + "to " + mail.recipient + "\n\n" + mail.message;
}

std::optional<SpooledMail> parseSpooledMail(std::string_view text)
{
    const std::size_t first = text.find('\n');
    if (first == std::string_view::npos || text.substr(0, 5) != "from ")
        return std::nullopt;
    const std::size_t second = text.find('\n', first + 1);
    if (second == std::string_view::npos || text.substr(first + 1, 3) != "to ")
        return std::nullopt;
    if (second + 1 >= text.size() || text[second + 1] != '\n')
        return std::nullopt;
    SpooledMail mail;
    mail.sender = std::string(text.substr(5, first - 5));
    mail.recipient = std::string(text.substr(first + 4, second - first - 4));
    mail.message = std::string(text.substr(second + 2));
    if (mail.recipient.empty() || mail.message.empty())
        return std::nullopt;
    return mail;
}

MailSpool::~MailSpool()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool MailSpool::lock(std::string &error)
{
    const std::string lockPath = m_folder + "/lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) {
        error = lockPath + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        char pid[32] = "";
        const ssize_t got = ::pread(fd, pid, sizeof pid - 1, 0);
        if (got > 0)
            pid[got] = '\0';
        ::close(fd);
        error = why == EWOULDBLOCK
                    ? m_folder + " is in use by another orvella-server" +
                          (got > 0 ? std::string(" (pid ") + std::to_string(std::atoi(pid)) + ")"
                                   : std::string())
                    : lockPath + ": " + std::strerror(why);
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds all the same; the number is only for the message.
    }
    m_lockFd = fd;
    return true;
}

bool MailSpool::prepare(std::string &error)
{
    if (!makeFolder(m_folder, error))
        return false;
    // Taken before anything in the folder is touched: clearing tmp/ would
    // destroy another server's mails being written.
    if (m_lockFd < 0 && !lock(error))
        return false;
    if (!makeFolder(m_folder + "/tmp", error) || !makeFolder(m_folder + "/sending", error) ||
        !makeFolder(m_folder + "/failed", error))
        return false;
    // Whatever is in tmp/ was being written when an earlier run stopped; it
    // was never answered "queued", so it is no accepted mail.
    const std::string temporary = m_folder + "/tmp";
    if (DIR *folder = ::opendir(temporary.c_str())) {
        while (const dirent *entry = ::readdir(folder))
            if (entry->d_name[0] != '.')
                ::unlink((temporary + "/" + entry->d_name).c_str());
        ::closedir(folder);
    }
    return true;
}

std::optional<std::string> MailSpool::add(const SpooledMail &mail, WallTime now, std::string &error)
{
    const long long millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    char name[96];
    std::snprintf(name, sizeof name, "%013lld-%d-%06u%s", millis, int(::getpid()),
                  ++m_sequence % 1000000u, suffix);
    const std::string temporary = m_folder + "/tmp/" + name;
    const std::string final = m_folder + "/" + name;

    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0) {
        error = temporary + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const bool written = writeAll(fd, serializeSpooledMail(mail)) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), final.c_str()) != 0) {
        error = final + ": " + std::strerror(written ? errno : savedErrno);
        ::unlink(temporary.c_str());
        return std::nullopt;
    }
    syncFolder(m_folder);
    return std::string(name);
}

std::vector<std::string> MailSpool::setAsideUnsure()
{
    std::vector<std::string> names;
    const std::string sending = m_folder + "/sending";
    if (DIR *folder = ::opendir(sending.c_str())) {
        while (const dirent *entry = ::readdir(folder))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        ::closedir(folder);
    }
    std::sort(names.begin(), names.end());
    std::string error;
    for (const std::string &name : names)
        moveSendingAside(name, error);
    return names;
}

std::vector<std::string> MailSpool::waiting() const
{
    std::vector<std::string> names;
    DIR *folder = ::opendir(m_folder.c_str());
    if (!folder)
        return names;
    while (const dirent *entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.front() != '.' && endsWith(name, suffix))
            names.push_back(name);
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<SpooledMail> MailSpool::read(const std::string &name) const
{
    std::FILE *file = std::fopen((m_folder + "/" + name).c_str(), "rbe");
    if (!file)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    std::fclose(file);
    return parseSpooledMail(text);
}

bool MailSpool::remove(const std::string &name) const
{
    return ::unlink((m_folder + "/" + name).c_str()) == 0;
}

bool MailSpool::moveAside(const std::string &name) const
{
    return ::rename((m_folder + "/" + name).c_str(), (m_folder + "/failed/" + name).c_str()) == 0;
}

namespace
{

bool renamed(const std::string &from, const std::string &to, std::string &error)
{
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    error = std::strerror(errno);
    return false;
}

} // namespace

bool MailSpool::markSending(const std::string &name, std::string &error) const
{
    return renamed(m_folder + "/" + name, m_folder + "/sending/" + name, error);
}

bool MailSpool::unmarkSending(const std::string &name, std::string &error) const
{
    return renamed(m_folder + "/sending/" + name, m_folder + "/" + name, error);
}

bool MailSpool::moveSendingAside(const std::string &name, std::string &error) const
{
    return renamed(m_folder + "/sending/" + name, m_folder + "/failed/" + name, error);
}

bool MailSpool::removeSent(const std::string &name, std::string &error) const
{
    if (::unlink((m_folder + "/sending/" + name).c_str()) == 0 || errno == ENOENT)
        return true;
    error = std::strerror(errno);
    return false;
}

std::optional<WallTime> MailSpool::acceptedAt(const std::string &name)
{
    const std::size_t dash = name.find('-');
    if (dash == std::string::npos || dash == 0 || dash > 18)
        return std::nullopt;
    for (std::size_t i = 0; i < dash; ++i)
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
    const long long millis = std::atoll(name.substr(0, dash).c_str());
    return WallTime(std::chrono::milliseconds(millis));
}

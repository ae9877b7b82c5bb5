#include "spreadsheet/WorkbookReader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellumcast::spreadsheet {

namespace {

class MappedFile final : public FileBytes {
public:
    MappedFile(void* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    ~MappedFile() override
    {
        if (m_data)
            munmap(m_data, m_size);
    }
    std::span<const uint8_t> Bytes() const override { return { static_cast<const uint8_t*>(m_data), m_size }; }

private:
    void* m_data;
    size_t m_size;
};

class BufferBytes final : public FileBytes {
public:
    explicit BufferBytes(std::string bytes)
        : m_bytes(std::move(bytes))
    {
    }
    std::span<const uint8_t> Bytes() const override
    {
        return { reinterpret_cast<const uint8_t*>(m_bytes.data()), m_bytes.size() };
    }

private:
    std::string m_bytes;
};

std::string SystemReason(int error)
{
    switch (error) {
    case ENOENT:
        return "the file does not exist";
    case EACCES:
    case EPERM:
        return "permission to read the file is denied";
    default:
        return std::strerror(error);
    }
}

} // namespace

std::shared_ptr<const FileBytes> FileBytes::Map(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw SpreadsheetError(ErrorCode::NotFound, SystemReason(errno));
    struct stat info { };
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw SpreadsheetError(ErrorCode::NotFound, SystemReason(error));
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        throw SpreadsheetError(ErrorCode::NotAFile, "it is a folder, not a workbook");
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw SpreadsheetError(ErrorCode::NotAFile, "it is not a regular file");
    }
    const auto size = static_cast<size_t>(info.st_size);
    if (size == 0) {
        ::close(fd);
        return std::make_shared<BufferBytes>(std::string());
    }
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    const int error = errno;
    ::close(fd);
    if (data == MAP_FAILED)
        throw SpreadsheetError(ErrorCode::NotFound, SystemReason(error));
    return std::make_shared<MappedFile>(data, size);
}

std::shared_ptr<const FileBytes> FileBytes::FromBuffer(std::string bytes)
{
    return std::make_shared<BufferBytes>(std::move(bytes));
}

} // namespace vellumcast::spreadsheet

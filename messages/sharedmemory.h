#pragma once
// Scoped ownership of the shared-memory library's blocks, and reading and writing of block
// bytes that never leaves the block. Blocks are made for the current process unless the caller
// names the process that is to receive them.
//
// A block's owner destroys it by freeing until no reference is left; a party that only opened
// a block drops the one reference its open took. Bytes that another process wrote are read
// with copies at checked offsets, never through casts, so a short or malformed block cannot
// lead a reader past its end.

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

namespace tarnwick {

// The caller's source line and file stem, for the shared-memory library's diagnostics.
struct SourcePlace {
    int line;
    const char* file;
};

// Destroys a block its caller owns: frees while references remain. Handle 0 names no block.
void DestroySharedBlock(std::uint32_t handle) noexcept;

// Owns one block and destroys it when it goes, unless it was handed over.
class CBlockHolder {
  public:
    CBlockHolder() = default;
    explicit CBlockHolder(std::uint32_t handle) noexcept : handle_(handle) {}
    CBlockHolder(const CBlockHolder&) = delete;
    CBlockHolder& operator=(const CBlockHolder&) = delete;
    CBlockHolder(CBlockHolder&& other) noexcept : handle_(other.Release()) {}
    CBlockHolder& operator=(CBlockHolder&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~CBlockHolder() { Reset(); }

    // Makes a block of size bytes in place of any held one, for process `processId` (0: the
    // current process); its zero-filled bytes, or an empty span (traced) when none could be made.
    std::span<std::uint8_t> Allocate(std::uint32_t size, const SourcePlace& place,
                                     std::uint32_t processId = 0) noexcept;

    std::uint32_t Get() const noexcept { return handle_; }
    // Hands the block over: the holder forgets it.
    std::uint32_t Release() noexcept {
        const std::uint32_t handle = handle_;
        handle_ = 0;
        return handle;
    }
    void Reset(std::uint32_t handle = 0) noexcept;

  private:
    std::uint32_t handle_ = 0;
};

// A block opened by its handle. The open took a reference, which the holder drops when it
// goes; Destroy drops every reference instead, for the block's owner.
class COpenedBlock {
  public:
    COpenedBlock(std::uint32_t handle, const SourcePlace& place) noexcept;
    COpenedBlock(const COpenedBlock&) = delete;
    COpenedBlock& operator=(const COpenedBlock&) = delete;
    ~COpenedBlock();

    bool IsOpen() const noexcept { return !bytes_.empty(); }
    std::uint32_t Handle() const noexcept { return handle_; }
    // Empty when the handle names no block.
    std::span<std::uint8_t> Bytes() const noexcept { return bytes_; }
    void Destroy() noexcept;

  private:
    std::uint32_t handle_;
    std::span<std::uint8_t> bytes_;
};

// Marks a block that this process keeps open while it reads a message or waits for a reply,
// on any thread, for as long as the marker lives. A payload of another message (a call nested
// in a host's callback, or one on another thread) may not name it either.
class CHeldBlock {
  public:
    explicit CHeldBlock(std::uint32_t handle);
    CHeldBlock(const CHeldBlock&) = delete;
    CHeldBlock& operator=(const CHeldBlock&) = delete;
    ~CHeldBlock();

    static bool IsHeld(std::uint32_t handle) noexcept;

  private:
    std::uint32_t handle_;
};

// The blocks that the receiver of one message holds open or has taken over. A payload that
// names one of them again, or a block held anywhere in the process, is refused: taking it
// would free a block under its holder, or twice.
class CReceivedBlocks {
  public:
    CReceivedBlocks() = default;
    // `held`: the message's own block, and any other its receiver keeps open meanwhile.
    CReceivedBlocks(std::initializer_list<std::uint32_t> held);

    // Whether the handle names a block held or taken here, or held by the process; never for
    // handle 0.
    bool Holds(std::uint32_t handle) const {
        return handles_.count(handle) != 0 || CHeldBlock::IsHeld(handle);
    }
    // Notes the block as taken; false, with nothing noted, when it is held or taken already.
    // Handle 0 names no block and is always accepted.
    bool Claim(std::uint32_t handle);
    // Makes room for this many more blocks, as an array's elements are about to be taken.
    void Reserve(size_t more) { handles_.reserve(handles_.size() + more); }

  private:
    std::unordered_set<std::uint32_t> handles_;
};

// Takes over a block that was handed to the caller: copies its bytes and destroys it. Nothing
// when the handle names no block. Working on the copy keeps the reader safe from a sender that
// still writes, and from a block that names itself.
std::optional<std::vector<std::uint8_t>> TakeSharedBlock(std::uint32_t handle,
                                                         const SourcePlace& place);

// Copies a T from offset; false when the block does not hold all of it.
template <typename T>
bool ReadAt(std::span<const std::uint8_t> block, size_t offset, T& value) noexcept {
    if (offset > block.size() || block.size() - offset < sizeof(T)) return false;
    std::memcpy(&value, block.data() + offset, sizeof(T));
    return true;
}

// Copies a T to offset; false (nothing written) when the block has no room for all of it.
template <typename T>
bool WriteAt(std::span<std::uint8_t> block, size_t offset, const T& value) noexcept {
    if (offset > block.size() || block.size() - offset < sizeof(T)) return false;
    std::memcpy(block.data() + offset, &value, sizeof(T));
    return true;
}

// The NUL-terminated UTF-16 text at offset, whose terminator lies within maxUnits units and
// within the block; nothing when there is no such terminator.
std::optional<std::wstring> ReadBlockText(std::span<const std::uint8_t> block, size_t offset,
                                          size_t maxUnits = SIZE_MAX);

// Zeroes a field of fieldUnits UTF-16 units at offset and copies at most fieldUnits - 1
// characters of text (null: none) into it. The field must lie within the block.
void WriteBlockText(std::span<std::uint8_t> block, size_t offset, size_t fieldUnits,
                    const wchar_t* text) noexcept;

}  // namespace tarnwick

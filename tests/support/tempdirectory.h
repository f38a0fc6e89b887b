#pragma once
// A fresh directory under the temporary folder, removed with everything in it at the end.

#include <string>

namespace tarnwick::test {

class CTempDirectory {
public:
    CTempDirectory();
    CTempDirectory(const CTempDirectory&) = delete;
    CTempDirectory& operator=(const CTempDirectory&) = delete;
    ~CTempDirectory();

    const std::wstring& Path() const { return path_; }
    // Path() + "\" + relative.
    std::wstring operator/(const std::wstring& relative) const;

    // Creates a subdirectory (and its parents) and answers its full path.
    std::wstring MakeDirectory(const std::wstring& relative) const;
    // Copies a file into the directory under a relative name; false when it cannot.
    bool CopyIn(const std::wstring& source, const std::wstring& relative) const;
    // Writes bytes into a file under a relative name.
    bool WriteFile(const std::wstring& relative, const std::string& bytes) const;

private:
    std::wstring path_;
};

// The folder of the running executable (the build's bin folder).
std::wstring ExecutableDirectory();

}  // namespace tarnwick::test

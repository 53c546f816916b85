#pragma once

// CPeFile: the few header fields of a program or DLL that the static checks read, from the file
// itself (not loaded), for either architecture whatever this build's own is.

#include <cstdint>
#include <string>
#include <vector>

class CPeFile {
public:
    // Reads and parses the file; false with the reason in *pWhy.
    bool Load(const std::string& strPath, std::string* pWhy);

    std::uint16_t DllCharacteristics() const { return m_nDllCharacteristics; }
    // The names of the DLLs in the import table, lowercase, as written ("kernel32.dll").
    const std::vector<std::string>& Imports() const { return m_imports; }

private:
    bool ParseImports(std::uint32_t nImportRva, std::string* pWhy);
    // The file offset of an RVA, or 0 when no section holds it.
    size_t Offset(std::uint32_t nRva) const;
    template <typename T>
    bool Read(size_t nOffset, T* pValue) const;

    struct SSection {
        std::uint32_t nRva, nSize, nRaw, nRawSize;
    };
    std::vector<unsigned char> m_data;
    std::vector<SSection> m_sections;
    std::uint16_t m_nDllCharacteristics = 0;
    std::vector<std::string> m_imports;
};

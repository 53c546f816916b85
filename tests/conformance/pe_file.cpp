#include "tests/conformance/pe_file.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

template <typename T>
bool CPeFile::Read(size_t nOffset, T* pValue) const {
    if (nOffset + sizeof(T) > m_data.size() || nOffset + sizeof(T) < nOffset)
        return false;
    std::memcpy(pValue, m_data.data() + nOffset, sizeof(T));
    return true;
}

size_t CPeFile::Offset(std::uint32_t nRva) const {
    for (const SSection& section : m_sections) {
        const std::uint32_t nExtent =
            section.nSize > section.nRawSize ? section.nSize : section.nRawSize;
        if (nRva >= section.nRva && nRva - section.nRva < nExtent)
            return section.nRaw + (nRva - section.nRva);
    }
    return 0;
}

bool CPeFile::Load(const std::string& strPath, std::string* pWhy) {
    std::ifstream file(strPath, std::ios::binary);
    if (!file) {
        *pWhy = "cannot open " + strPath;
        return false;
    }
    m_data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    std::uint32_t nPe = 0, nSignature = 0;
    std::uint16_t nSections = 0, nOptionalSize = 0, nMagic = 0;
    if (!Read(0x3C, &nPe) || !Read(nPe, &nSignature) || nSignature != 0x4550 ||
        !Read(nPe + 6, &nSections) || !Read(nPe + 20, &nOptionalSize) || !Read(nPe + 24, &nMagic) ||
        (nMagic != 0x10B && nMagic != 0x20B)) {
        *pWhy = strPath + " is not a PE file";
        return false;
    }
    const size_t nOptional = nPe + 24;
    // DllCharacteristics lies at the same offset in PE32 and PE32+; the data directories do not.
    std::uint32_t nImportRva = 0;
    const size_t nDirectories = nOptional + (nMagic == 0x10B ? 96 : 112);
    if (!Read(nOptional + 70, &m_nDllCharacteristics) || !Read(nDirectories + 8, &nImportRva)) {
        *pWhy = strPath + ": truncated optional header";
        return false;
    }
    for (std::uint16_t i = 0; i < nSections; ++i) {
        const size_t nAt = nOptional + nOptionalSize + 40 * i;
        SSection section;
        if (!Read(nAt + 8, &section.nSize) || !Read(nAt + 12, &section.nRva) ||
            !Read(nAt + 16, &section.nRawSize) || !Read(nAt + 20, &section.nRaw)) {
            *pWhy = strPath + ": truncated section table";
            return false;
        }
        m_sections.push_back(section);
    }
    return ParseImports(nImportRva, pWhy);
}

bool CPeFile::ParseImports(std::uint32_t nImportRva, std::string* pWhy) {
    if (nImportRva == 0)
        return true;
    size_t nAt = Offset(nImportRva);
    // Import descriptors of 20 bytes, the name's RVA at 12, ended by one of zeros.
    for (std::uint32_t nName = 0; nAt != 0; nAt += 20) {
        if (!Read(nAt + 12, &nName)) {
            *pWhy = "the import table runs past the file";
            return false;
        }
        if (nName == 0)
            return true;
        size_t nText = Offset(nName);
        std::string strName;
        while (nText != 0 && nText < m_data.size() && m_data[nText] != 0 && strName.size() < 260)
            strName += static_cast<char>(std::tolower(m_data[nText++]));
        m_imports.push_back(strName);
    }
    *pWhy = "the import table lies in no section";
    return false;
}

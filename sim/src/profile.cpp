// Profile (INI) functions on real files. A file is read whole, edited as a
// list of lines and written back whole; lines that an edit does not touch keep
// their exact bytes, line ending included.
#include "internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Never destroyed, so a late caller during process exit stays safe.
std::mutex& ProfileMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

struct Line {
    std::string text;  // without the line ending
    std::string eol;   // "\r\n", "\n", or "" for a last line without one
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// "[name]" (blanks allowed around and inside the brackets).
bool ParseSection(const std::string& text, std::string* name) {
    const std::string t = Trim(text);
    if (t.empty() || t[0] != '[') return false;
    const size_t close = t.find(']');
    *name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// "key=value"; comment lines (first non-blank ';') and lines without '=' are
// not keys.
bool ParseKey(const std::string& text, std::string* key, std::string* value) {
    const std::string t = Trim(text);
    if (t.empty() || t[0] == ';' || t[0] == '[') return false;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    *key = Trim(t.substr(0, eq));
    if (key->empty()) return false;
    if (value) {
        std::string v = Trim(t.substr(eq + 1));
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
            v = v.substr(1, v.size() - 2);
        }
        *value = v;
    }
    return true;
}

class IniFile {
public:
    // False when the file does not exist or cannot be read; the line list is
    // then empty.
    bool Load(const char* path) {
        lines_.clear();
        FILE* f = std::fopen(path, "rb");
        if (!f) return false;
        std::string content;
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) content.append(chunk, n);
        const bool failed = std::ferror(f) != 0;
        std::fclose(f);
        if (failed) return false;
        size_t start = 0;
        while (start < content.size()) {
            const size_t nl = content.find('\n', start);
            if (nl == std::string::npos) {
                lines_.push_back({content.substr(start), ""});
                break;
            }
            const bool crlf = nl > start && content[nl - 1] == '\r';
            lines_.push_back({content.substr(start, nl - start - (crlf ? 1 : 0)),
                              crlf ? "\r\n" : "\n"});
            start = nl + 1;
        }
        return true;
    }

    // On failure, the last error tells why.
    bool Save(const char* path) const {
        std::string content;
        for (const Line& line : lines_) content += line.text + line.eol;
        FILE* f = std::fopen(path, "wb");
        bool ok = f != nullptr;
        if (ok) {
            ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
            ok = (std::fclose(f) == 0) && ok;
        }
        if (!ok) {
            SetLastError((errno == ENOENT || errno == ENOTDIR) ? ERROR_PATH_NOT_FOUND
                                                               : ERROR_ACCESS_DENIED);
        }
        return ok;
    }

    std::vector<std::string> SectionNames() const {
        std::vector<std::string> names;
        std::string name;
        for (const Line& line : lines_) {
            if (ParseSection(line.text, &name)) names.push_back(name);
        }
        return names;
    }

    // Index of the first "[section]" line matching `section`, or npos.
    size_t FindSection(const char* section) const {
        std::string name;
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (ParseSection(lines_[i].text, &name) && SameName(name, section)) return i;
        }
        return npos;
    }

    // One past the last line of the section whose header is at `header`.
    size_t SectionEnd(size_t header) const {
        std::string name;
        size_t i = header + 1;
        while (i < lines_.size() && !ParseSection(lines_[i].text, &name)) ++i;
        return i;
    }

    std::vector<std::string> KeyNames(size_t header) const {
        std::vector<std::string> keys;
        std::string key;
        for (size_t i = header + 1; i < SectionEnd(header); ++i) {
            if (ParseKey(lines_[i].text, &key, nullptr)) keys.push_back(key);
        }
        return keys;
    }

    // Index of the first line of the section at `header` holding `key`, or npos.
    size_t FindKey(size_t header, const char* key, std::string* value) const {
        std::string name;
        const size_t end = SectionEnd(header);
        for (size_t i = header + 1; i < end; ++i) {
            if (ParseKey(lines_[i].text, &name, value) && SameName(name, key)) return i;
        }
        return npos;
    }

    // Sets key=value in the section, adding the section or key as needed.
    void Set(const char* section, const char* key, const char* value) {
        const std::string entry = std::string(key) + "=" + value;
        const size_t header = FindSection(section);
        if (header == npos) {
            EndLastLine();
            lines_.push_back({"[" + std::string(section) + "]", Eol()});
            lines_.push_back({entry, Eol()});
            return;
        }
        const size_t at = FindKey(header, key, nullptr);
        if (at != npos) {
            lines_[at].text = entry;
            return;
        }
        // New keys go after the section's last key, ahead of any blank lines
        // or comments that introduce the next section.
        size_t after = header;
        std::string name;
        for (size_t i = header + 1; i < SectionEnd(header); ++i) {
            if (ParseKey(lines_[i].text, &name, nullptr)) after = i;
        }
        if (lines_[after].eol.empty()) lines_[after].eol = Eol();
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after) + 1, {entry, Eol()});
    }

    bool RemoveKey(const char* section, const char* key) {
        const size_t header = FindSection(section);
        if (header == npos) return false;
        const size_t at = FindKey(header, key, nullptr);
        if (at == npos) return false;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    }

    bool RemoveSection(const char* section) {
        const size_t header = FindSection(section);
        if (header == npos) return false;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
        return true;
    }

    static constexpr size_t npos = static_cast<size_t>(-1);

private:
    // New lines follow the file's own convention; a new file gets CRLF, as on
    // Windows.
    std::string Eol() const {
        for (const Line& line : lines_) {
            if (!line.eol.empty()) return line.eol;
        }
        return "\r\n";
    }

    void EndLastLine() {
        if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = Eol();
    }

    std::vector<Line> lines_;
};

// Copies `text` as GetPrivateProfileStringA does: cut to nSize - 1 characters
// when it does not fit, and always terminated.
DWORD CopyString(const std::string& text, LPSTR buffer, DWORD nSize) {
    if (text.size() < nSize) {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<DWORD>(text.size());
    }
    std::memcpy(buffer, text.data(), nSize - 1);
    buffer[nSize - 1] = '\0';
    SetLastError(ERROR_MORE_DATA);
    return nSize - 1;
}

// Copies names as a list of terminated strings ended by an empty one. A list
// that does not fit is cut to nSize - 2 characters and ended by two NULs.
DWORD CopyList(const std::vector<std::string>& names, LPSTR buffer, DWORD nSize) {
    std::string list;
    for (const std::string& name : names) {
        list += name;
        list += '\0';
    }
    if (list.size() + 1 <= nSize) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        if (list.empty() && nSize >= 2) buffer[1] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (nSize < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), nSize - 2);
    buffer[nSize - 2] = '\0';
    buffer[nSize - 1] = '\0';
    SetLastError(ERROR_MORE_DATA);
    return nSize - 2;
}

// The value of section/key; false (with ERROR_FILE_NOT_FOUND) when the file,
// the section or the key is missing. Caller holds ProfileMutex().
bool LookupValue(LPCSTR section, LPCSTR key, LPCSTR path, std::string* value) {
    IniFile ini;
    if (path != nullptr && ini.Load(path)) {
        const size_t header = ini.FindSection(section);
        if (header != IniFile::npos && ini.FindKey(header, key, value) != IniFile::npos) {
            return true;
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
}

}  // namespace

SIM_API DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                       LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    if (lpReturnedString == nullptr || nSize == 0) return 0;
    std::lock_guard<std::mutex> lock(ProfileMutex());

    if (lpAppName == nullptr || lpKeyName == nullptr) {
        IniFile ini;
        if (lpFileName == nullptr || !ini.Load(lpFileName)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return CopyList({}, lpReturnedString, nSize);
        }
        if (lpAppName == nullptr) return CopyList(ini.SectionNames(), lpReturnedString, nSize);
        const size_t header = ini.FindSection(lpAppName);
        if (header == IniFile::npos) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return CopyList({}, lpReturnedString, nSize);
        }
        return CopyList(ini.KeyNames(header), lpReturnedString, nSize);
    }

    std::string value;
    if (LookupValue(lpAppName, lpKeyName, lpFileName, &value)) {
        return CopyString(value, lpReturnedString, nSize);
    }
    // The default loses its trailing blanks, as documented.
    std::string fallback = lpDefault ? lpDefault : "";
    while (!fallback.empty() && IsBlank(fallback.back())) fallback.pop_back();
    return CopyString(fallback, lpReturnedString, nSize);
}

// The value's leading decimal number: blanks and one pair of quotes are already
// gone, then an optional sign and digits up to the first other character
// ("12ab" gives 12, "abc" gives 0). A missing key and an empty value both give
// nDefault, as Windows does (an empty value has no number to convert). A
// negative number comes back as its two's complement, as current Windows
// returns it (callers cast the UINT back to int); older documentation's "less
// than zero gives zero" is not followed. Digits beyond 32 bits wrap.
SIM_API UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault,
                                   LPCSTR lpFileName) {
    std::string value;
    {
        std::lock_guard<std::mutex> lock(ProfileMutex());
        if (lpAppName == nullptr || lpKeyName == nullptr ||
            !LookupValue(lpAppName, lpKeyName, lpFileName, &value) || value.empty()) {
            return static_cast<UINT>(nDefault);
        }
    }
    size_t i = 0;
    bool negative = false;
    if (value[i] == '+' || value[i] == '-') negative = value[i++] == '-';
    UINT result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        result = result * 10u + static_cast<UINT>(value[i] - '0');
    }
    return negative ? 0u - result : result;
}

SIM_API BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                        LPCSTR lpFileName) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpAppName == nullptr) {
        // All three NULL only flushes a cache, which files on disk do not have.
        if (lpKeyName == nullptr && lpString == nullptr) return TRUE;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(ProfileMutex());
    IniFile ini;
    ini.Load(lpFileName);
    bool changed = true;
    if (lpKeyName == nullptr) {
        changed = ini.RemoveSection(lpAppName);
    } else if (lpString == nullptr) {
        changed = ini.RemoveKey(lpAppName, lpKeyName);
    } else {
        ini.Set(lpAppName, lpKeyName, lpString);
    }
    // Deleting what is not there leaves the file (or its absence) alone.
    if (!changed) return TRUE;
    return ini.Save(lpFileName) ? TRUE : FALSE;
}

#include "config/registry_hive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/alert_sink.h"
#include "base/atomic_file.h"
#include "base/module_folder.h"
#include "base/text.h"

namespace orvane {

struct CRegistryHive::Node {
    struct Value {
        std::string name;
        RegType type;
        std::vector<uint8_t> data;
    };
    std::string name;
    std::vector<Value> values;
    std::vector<std::unique_ptr<Node>> children;

    Node* Child(std::string_view childName) const {
        for (const auto& child : children) {
            if (EqualsNoCase(child->name, childName)) return child.get();
        }
        return nullptr;
    }
    Node* AddChild(std::string_view childName) {
        if (Node* existing = Child(childName)) return existing;
        children.push_back(std::make_unique<Node>());
        children.back()->name = std::string(childName);
        return children.back().get();
    }
    Value* FindValue(std::string_view valueName) {
        for (auto& value : values) {
            if (EqualsNoCase(value.name, valueName)) return &value;
        }
        return nullptr;
    }
};

std::vector<uint8_t> TextValueData(std::string_view text) {
    const std::u16string wide = Utf8ToUtf16(text);
    std::vector<uint8_t> data;
    data.reserve((wide.size() + 1) * 2);
    for (const char16_t unit : wide) {
        data.push_back(static_cast<uint8_t>(unit & 0xFF));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

std::u16string TextOfValueData(const std::vector<uint8_t>& data) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) break;
        wide += unit;
    }
    return wide;
}

std::vector<uint8_t> DwordValueData(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

namespace {

constexpr std::string_view kFactoryPrefix = "software\\zentrova\\default";

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

// Reads a quoted text at `pos` (which points at the opening quote); advances past the closing quote.
bool Unquote(std::string_view line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (size_t i = pos + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= line.size()) return false;
        switch (line[i]) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                if (i + 2 >= line.size()) return false;
                char hex[3] = {line[i + 1], line[i + 2], 0};
                char* end = nullptr;
                long v = std::strtol(hex, &end, 16);
                if (end != hex + 2) return false;
                out += static_cast<char>(v);
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return false;
}

bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& out) {
    out.clear();
    size_t i = 0;
    while (i < text.size()) {
        if (i + 2 > text.size()) return false;
        char hex[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        long v = std::strtol(hex, &end, 16);
        if (end != hex + 2) return false;
        out.push_back(static_cast<uint8_t>(v));
        i += 2;
        if (i < text.size()) {
            if (text[i] != ',') return false;
            ++i;
        }
    }
    return true;
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return std::string(s.substr(b, e - b));
}

std::atomic<CRegistryHive*> installedHive{nullptr};

}  // namespace

CRegistryHive::CRegistryHive(std::string userFile_, std::string factoryFile_)
    : userFile(std::move(userFile_)),
      factoryFile(std::move(factoryFile_)),
      userRoot(std::make_unique<Node>()),
      factoryRoot(std::make_unique<Node>()) {
    std::string problem;
    if (!userFile.empty()) {
        struct stat st {};
        if (::stat(userFile.c_str(), &st) == 0 && !ParseFile(userFile, *userRoot, problem)) damaged = true;
    }
    std::string factoryProblem;
    if (!factoryFile.empty()) ParseFile(factoryFile, *factoryRoot, factoryProblem);
    // Only the factory branch is taken from the factory file; the user's file cannot override it.
    if (Node* software = userRoot->Child("software")) {
        if (Node* zentrova = software->Child("zentrova")) {
            auto& kids = zentrova->children;
            for (auto it = kids.begin(); it != kids.end(); ++it) {
                if (EqualsNoCase((*it)->name, "default")) {
                    kids.erase(it);
                    break;
                }
            }
        }
    }
}

CRegistryHive::~CRegistryHive() { Flush(); }

std::string CRegistryHive::DefaultUserFile() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::string(home) + "/.config";
    } else {
        base = "/tmp";
    }
    return base + "/zentrova/settings.conf";
}

std::string CRegistryHive::DefaultFactoryFile() { return GetModuleFolder() + "Resource/factory.conf"; }

CRegistryHive* CRegistryHive::CurrentUser() {
    if (CRegistryHive* hive = installedHive.load()) return hive;
    static CRegistryHive* processHive = new CRegistryHive(DefaultUserFile(), DefaultFactoryFile());
    return processHive;
}

void CRegistryHive::SetCurrentUser(CRegistryHive* hive) { installedHive.store(hive); }

bool CRegistryHive::IsFactoryPath(std::string_view path) {
    auto parts = SplitPath(path);
    auto prefix = SplitPath(kFactoryPrefix);
    if (parts.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (!EqualsNoCase(parts[i], prefix[i])) return false;
    }
    return true;
}

CRegistryHive::Node* CRegistryHive::Find(Node* root, std::string_view path) const {
    Node* node = root;
    for (std::string_view part : SplitPath(path)) {
        node = node->Child(part);
        if (node == nullptr) return nullptr;
    }
    return node;
}

CRegistryHive::Node* CRegistryHive::FindKey(std::string_view path) const {
    return Find(IsFactoryPath(path) ? factoryRoot.get() : userRoot.get(), path);
}

bool CRegistryHive::KeyExists(std::string_view path) const {
    std::lock_guard<std::mutex> guard(lock);
    return FindKey(path) != nullptr;
}

bool CRegistryHive::CreateKey(std::string_view path) {
    if (IsFactoryPath(path)) return KeyExists(path);
    auto parts = SplitPath(path);
    if (parts.empty()) return false;
    std::lock_guard<std::mutex> guard(lock);
    Node* node = userRoot.get();
    for (std::string_view part : parts) {
        if (node->Child(part) == nullptr) MarkChanged();
        node = node->AddChild(part);
    }
    return true;
}

bool CRegistryHive::QueryValue(std::string_view path, std::string_view name, RegType& type,
                               std::vector<uint8_t>& data) const {
    std::lock_guard<std::mutex> guard(lock);
    Node* node = FindKey(path);
    if (node == nullptr) return false;
    Node::Value* value = node->FindValue(name);
    if (value == nullptr) return false;
    type = value->type;
    data = value->data;
    return true;
}

bool CRegistryHive::SetValue(std::string_view path, std::string_view name, RegType type,
                             std::vector<uint8_t> data) {
    if (IsFactoryPath(path) || name.empty()) return false;
    std::lock_guard<std::mutex> guard(lock);
    Node* node = Find(userRoot.get(), path);
    if (node == nullptr) return false;
    if (Node::Value* value = node->FindValue(name)) {
        if (value->type == type && value->data == data) return true;
        value->type = type;
        value->data = std::move(data);
    } else {
        node->values.push_back({std::string(name), type, std::move(data)});
    }
    MarkChanged();
    return true;
}

std::vector<std::string> CRegistryHive::SubKeys(std::string_view path) const {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> names;
    if (Node* node = FindKey(path)) {
        names.reserve(node->children.size());
        for (const auto& child : node->children) names.push_back(child->name);
    }
    return names;
}

bool CRegistryHive::DeleteKey(std::string_view path) {
    if (IsFactoryPath(path)) return false;
    auto parts = SplitPath(path);
    if (parts.empty()) return false;
    std::lock_guard<std::mutex> guard(lock);
    Node* parent = userRoot.get();
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->Child(parts[i]);
        if (parent == nullptr) return false;
    }
    auto& kids = parent->children;
    for (auto it = kids.begin(); it != kids.end(); ++it) {
        if (EqualsNoCase((*it)->name, parts.back())) {
            kids.erase(it);
            MarkChanged();
            return true;
        }
    }
    return false;
}

bool CRegistryHive::HadDamagedFile() const {
    std::lock_guard<std::mutex> guard(lock);
    return damaged;
}

// The file format, one item a line:
//   [key\path]                 opens a key (and every parent)
//   "name"="text"              a text value; \" \\ \n \r \t \xHH escapes
//   "name"=dword:0000002a      a 32-bit number in hex
//   "name"=hex:01,02,ff        raw bytes
//   ; comment                  ignored, as are blank lines
bool CRegistryHive::ParseFile(const std::string& file, Node& root, std::string& problem) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        problem = SystemErrorText(errno);
        return false;
    }
    bool clean = true;
    Node* current = nullptr;  // values before any key, or after a broken key line, are skipped
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        // Some editors put a byte-order mark before the first line of a UTF-8 file.
        if (lineNo == 1 && raw.rfind("\xEF\xBB\xBF", 0) == 0) raw.erase(0, 3);
        if (raw.find('\0') != std::string::npos) {
            clean = false;
            current = nullptr;
            continue;
        }
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            current = nullptr;
            if (line.back() != ']' || line.size() < 3) {
                clean = false;
                continue;
            }
            auto parts = SplitPath(std::string_view(line).substr(1, line.size() - 2));
            if (parts.empty()) {
                clean = false;
                continue;
            }
            current = &root;
            for (auto part : parts) current = current->AddChild(part);
            continue;
        }
        size_t pos = 0;
        std::string name;
        if (current == nullptr || !Unquote(line, pos, name) || name.empty()) {
            clean = false;
            continue;
        }
        std::string rest = Trim(std::string_view(line).substr(pos));
        if (rest.empty() || rest[0] != '=') {
            clean = false;
            continue;
        }
        rest = Trim(std::string_view(rest).substr(1));
        Node::Value value{name, RegType::Sz, {}};
        if (!rest.empty() && rest[0] == '"') {
            size_t vpos = 0;
            std::string text;
            if (!Unquote(rest, vpos, text) || !Trim(std::string_view(rest).substr(vpos)).empty()) {
                clean = false;
                continue;
            }
            value.data = TextValueData(SanitizeUtf8(text));
        } else if (rest.rfind("dword:", 0) == 0) {
            std::string digits = rest.substr(6);
            char* end = nullptr;
            errno = 0;
            unsigned long long v = std::strtoull(digits.c_str(), &end, 16);
            if (digits.empty() || digits.size() > 8 || *end != '\0' || errno != 0) {
                clean = false;
                continue;
            }
            value.type = RegType::Dword;
            value.data = DwordValueData(static_cast<uint32_t>(v));
        } else if (rest.rfind("hex:", 0) == 0) {
            value.type = RegType::Binary;
            if (!ParseHexBytes(std::string_view(rest).substr(4), value.data)) {
                clean = false;
                continue;
            }
        } else {
            clean = false;
            continue;
        }
        if (Node::Value* existing = current->FindValue(name)) {
            *existing = std::move(value);
        } else {
            current->values.push_back(std::move(value));
        }
    }
    if (in.bad()) clean = false;
    if (!clean && problem.empty()) problem = "unreadable lines";
    return clean;
}

std::string CRegistryHive::Serialize() const {
    std::ostringstream out;
    out << "; Orvane settings. Written by the program; key and value names ignore case.\n";
    // Depth-first, so that a key's own line precedes its children; empty keys are written too.
    struct Walker {
        std::ostringstream& out;
        void Walk(const Node& node, const std::string& path) {
            if (!path.empty()) {
                out << "\n[" << path << "]\n";
                for (const auto& value : node.values) {
                    out << Quote(value.name) << "=";
                    switch (value.type) {
                        case RegType::Sz:
                            out << Quote(Utf16ToUtf8(TextOfValueData(value.data)));
                            break;
                        case RegType::Dword: {
                            uint32_t v = 0;
                            for (size_t i = 0; i < value.data.size() && i < 4; ++i)
                                v |= uint32_t(value.data[i]) << (8 * i);
                            char buf[16];
                            std::snprintf(buf, sizeof buf, "dword:%08x", v);
                            out << buf;
                            break;
                        }
                        case RegType::Binary: {
                            out << "hex:";
                            for (size_t i = 0; i < value.data.size(); ++i) {
                                char buf[4];
                                std::snprintf(buf, sizeof buf, "%s%02x", i ? "," : "", value.data[i]);
                                out << buf;
                            }
                            break;
                        }
                    }
                    out << "\n";
                }
            }
            for (const auto& child : node.children) {
                Walk(*child, path.empty() ? child->name : path + "\\" + child->name);
            }
        }
    };
    Walker{out}.Walk(*userRoot, "");
    return out.str();
}

// Keeps the damaged file beside the new one: a hard link of the file itself (of what a symbolic link
// points to, since that is what the save replaces) needs no room on the disk; a copy is the fallback
// where links are not possible. 0 or the errno of the failure.
int CRegistryHive::KeepDamagedCopy(std::string& keptAs) const {
    keptAs.clear();
    int error = 0;
    const std::string real = ResolveWriteTarget(userFile, error);
    if (error != 0) return error;
    struct stat file {};
    if (::stat(real.c_str(), &file) != 0) return errno == ENOENT ? 0 : errno;  // gone: nothing to keep
    for (int n = 0; n < 1000; ++n) {
        keptAs = userFile + ".damaged";
        if (n > 0) keptAs += '.' + std::to_string(n);
        struct stat st {};
        if (::lstat(keptAs.c_str(), &st) == 0) continue;
        if (::link(real.c_str(), keptAs.c_str()) == 0) return 0;
        if (errno == EEXIST) continue;

        std::ifstream in(real, std::ios::binary);
        if (!in) return errno != 0 ? errno : EIO;
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) return EIO;
        CAtomicFile copy;
        if ((error = copy.CreateBeside(keptAs, 0600)) != 0) return error;
        if ((error = copy.Write(content.data(), content.size())) != 0) return error;
        error = copy.CommitNew(keptAs);
        if (error != EEXIST) return error;
    }
    return EEXIST;
}

bool CRegistryHive::Flush() {
    const int error = Save();
    if (error != 0) errno = error;
    return error == 0;
}

int CRegistryHive::Save() {
    std::string content;
    bool keepDamaged = false;
    std::string keptAs;
    uint64_t savedGeneration = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!dirty || userFile.empty()) return 0;
        content = Serialize();
        savedGeneration = generation;
        keepDamaged = damaged && !damagedKept;
        keptAs = damagedCopy;
    }

    // The folder chain (the config folder itself may be missing on a fresh account). What cannot be
    // made shows in the write's own error.
    const std::string folder = ParentFolder(userFile);
    for (size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos == folder.size() || folder[pos] == '/') ::mkdir(folder.substr(0, pos).c_str(), 0700);
    }

    if (keepDamaged && keptAs.empty()) {
        // Without a copy the damaged file is not replaced: the user may still want what is in it.
        if (const int error = KeepDamagedCopy(keptAs); error != 0) return error;
        std::lock_guard<std::mutex> guard(lock);
        damagedCopy = keptAs;
    }
    keepDamaged = keepDamaged && !keptAs.empty();

    const int error = WriteFileReplacing(userFile, content, 0600);
    if (error != 0) return error;
    {
        std::lock_guard<std::mutex> guard(lock);
        // A change made while the file was written is saved the next time.
        if (generation == savedGeneration) dirty = false;
        damaged = false;
        if (keepDamaged) damagedKept = true;
    }
    if (keepDamaged) {
        ShowAlert(
            Format("The settings file %s could not be read completely. It was kept as %s, and the "
                   "settings that could be read were saved in its place.",
                   userFile, keptAs));
    }
    return 0;
}

}  // namespace orvane

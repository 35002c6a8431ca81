#include "StandinHarness.h"

#include <plist/plist.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <unistd.h>

namespace standins::testing {

bool isLeftover(const std::string &path)
{
    const std::string prefix = std::string("/tmp/") + tempPrefix;
    if (path.rfind(prefix, 0) != 0)
        return false;
    const long pid = std::atol(path.c_str() + prefix.size());
    return pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

ProgramResult runStandin(const std::string &tool, const std::vector<std::string> &args,
                         const std::vector<std::string> &environment)
{
    std::vector<std::string> argv{std::string(QUORVEL_STANDINS_DIR) + "/" + tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, environment);
}

ProgramResult sh(const std::string &line)
{
    // A UTF-8 locale, so that tools such as mkntfs take non-ASCII labels.
    return runProgram({"/bin/sh", "-c", line}, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C.UTF-8"});
}

TempDir::TempDir()
{
    std::string pattern = std::string("/tmp/") + tempPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void writeFile(const std::string &path, const std::string &content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

namespace {

std::string text(plist_t node)
{
    std::string out;
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!key)
                break;
            out += (out.empty() ? "" : ", ") + std::string(key) + "=" + text(value);
            std::free(key);
        }
        std::free(iter);
        return "{" + out + "}";
    }
    case PLIST_ARRAY:
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            out += (i ? ", " : "") + text(plist_array_get_item(node, i));
        return "[" + out + "]";
    case PLIST_STRING: {
        char *value = nullptr;
        plist_get_string_val(node, &value);
        out = value ? value : "";
        std::free(value);
        return out;
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return std::to_string(static_cast<std::int64_t>(value));
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value ? "true" : "false";
    }
    default:
        return "?";
    }
}

std::shared_ptr<void> parse(const std::string &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    return {root, [](void *node) {
                if (node)
                    plist_free(static_cast<plist_t>(node));
            }};
}

} // namespace

std::optional<std::string> plistText(const std::string &xml)
{
    const auto root = parse(xml);
    return root ? std::optional(text(root.get())) : std::nullopt;
}

std::vector<std::string> plistItems(const std::string &xml, const char *key)
{
    const auto root = parse(xml);
    std::vector<std::string> items;
    plist_t array = root && plist_get_node_type(root.get()) == PLIST_DICT ? plist_dict_get_item(root.get(), key) : nullptr;
    if (array && plist_get_node_type(array) == PLIST_ARRAY)
        for (uint32_t i = 0; i < plist_array_get_size(array); ++i)
            items.push_back(text(plist_array_get_item(array, i)));
    return items;
}

std::string diskEntry(const std::string &id, std::int64_t size, const std::string &content,
                      const std::vector<std::string> &partitions)
{
    std::string text = "{DeviceIdentifier=" + id + ", Size=" + std::to_string(size) + ", Content=" + content;
    for (std::size_t i = 0; i < partitions.size(); ++i)
        text += (i ? ", " : ", Partitions=[") + partitions[i] + (i + 1 == partitions.size() ? "]" : "");
    return text + "}";
}

} // namespace standins::testing

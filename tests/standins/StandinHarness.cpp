#include "StandinHarness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace standins::testing {

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

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

TempDir::TempDir()
{
    std::string pattern = std::string("/tmp/") + tempPrefix + "XXXXXX";
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

std::optional<Plist> Plist::parse(const std::string &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    if (!root)
        return std::nullopt;
    Plist result;
    result.m_root = std::shared_ptr<void>(root, [](void *node) { plist_free(static_cast<plist_t>(node)); });
    return result;
}

namespace {

plist_t item(plist_t dict, const char *key, plist_type type)
{
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return nullptr;
    plist_t node = plist_dict_get_item(dict, key);
    return node && plist_get_node_type(node) == type ? node : nullptr;
}

} // namespace

std::optional<std::string> Plist::string(plist_t dict, const char *key)
{
    plist_t node = item(dict, key, PLIST_STRING);
    if (!node)
        return std::nullopt;
    char *value = nullptr;
    plist_get_string_val(node, &value);
    std::string result = value ? value : "";
    std::free(value);
    return result;
}

std::optional<std::int64_t> Plist::integer(plist_t dict, const char *key)
{
    plist_t node = item(dict, key, PLIST_UINT);
    if (!node)
        return std::nullopt;
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return static_cast<std::int64_t>(value);
}

std::optional<bool> Plist::boolean(plist_t dict, const char *key)
{
    plist_t node = item(dict, key, PLIST_BOOLEAN);
    if (!node)
        return std::nullopt;
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

std::optional<std::vector<plist_t>> Plist::array(plist_t dict, const char *key)
{
    plist_t node = item(dict, key, PLIST_ARRAY);
    if (!node)
        return std::nullopt;
    std::vector<plist_t> items;
    for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
        items.push_back(plist_array_get_item(node, i));
    return items;
}

std::vector<std::string> Plist::keys(plist_t dict)
{
    std::vector<std::string> result;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &key, &value);
        if (!key)
            break;
        result.emplace_back(key);
        std::free(key);
    }
    std::free(iter);
    return result;
}

} // namespace standins::testing

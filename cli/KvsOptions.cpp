#include "cli/KvsOptions.h"

#include <cstdlib>

#include "base/Mon.h"

namespace {

const KvsOption* Find_(const std::vector<KvsOption>& table, const std::string& name)
{
    for (const KvsOption& o : table)
        if (name == o.name || (o.alias && name == o.alias)) return &o;
    return nullptr;
}

std::vector<std::string> Words_(const std::string& text, char sep)
{
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(sep, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

size_t ValueCount_(const KvsOption& o)
{
    if (o.kind == KVS_FLAG) return 0;
    return o.kind == KVS_INT ? Words_(o.value, ' ').size() : 1;
}

int ChoiceIndex_(const KvsOption& o, const std::string& word)
{
    const std::vector<std::string> words = Words_(o.value, '|');
    for (size_t k = 0; k < words.size(); ++k)
        if (words[k] == word) return static_cast<int>(k);
    return -1;
}

std::string RangeProblem_(const KvsOption& o)
{
    const size_t n = ValueCount_(o);
    const std::string what = n == 1 ? "a number" : n == 2 ? "two numbers" : std::to_string(n) + " numbers";
    return std::string(o.name) + " takes " + what + " from " + std::to_string(o.low) + " to " + std::to_string(o.high);
}

// A whole decimal number (signed only where the range has negative numbers) within the range.
bool InRange_(const KvsOption& o, const std::string& text)
{
    const size_t sign = !text.empty() && text[0] == '-' && o.low < 0 ? 1 : 0;
    if (text.size() <= sign || text.size() - sign > 9) return false;
    for (size_t k = sign; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    const int value = std::atoi(text.c_str());
    return value >= o.low && value <= o.high;
}

std::string ChoiceList_(const KvsOption& o)
{
    const std::vector<std::string> words = Words_(o.value, '|');
    std::string s;
    for (size_t k = 0; k < words.size(); ++k)
        s += (k == 0 ? "" : k + 1 == words.size() ? " or " : ", ") + words[k];
    return s;
}

}  // namespace

std::string KvsCheckValue(const KvsOption& o, const std::string& v)
{
    TRACE("KvsOptions.KvsCheckValue");
    if (o.kind == KVS_INT && !InRange_(o, v)) return RangeProblem_(o);
    if (o.kind == KVS_CHOICE && ChoiceIndex_(o, v) < 0)
        return std::string("bad ") + o.name + " '" + v + "' (" + ChoiceList_(o) + ")";
    if (o.kind == KVS_FILE && v.empty()) return std::string(o.name) + " needs a value";
    return std::string();
}

namespace {

bool IsOption_(const std::string& a)
{
    return a.size() > 1 && a[0] == '-';
}

std::string Head_(const KvsOption& o)
{
    return std::string(o.name) + (o.kind == KVS_FLAG ? "" : std::string(" ") + o.value);
}

// An option's help with the range of a number option added to its last line.
std::string HelpText_(const KvsOption& o)
{
    std::string text = o.help;
    if (o.kind != KVS_INT) return text;
    std::string names;
    for (const std::string& w : Words_(o.value, ' ')) names += (names.empty() ? "" : ", ") + w;
    return text + (text.empty() ? "" : " ") + "(" + names + ": " + std::to_string(o.low) + ".." +
           std::to_string(o.high) + ")";
}

}  // namespace

bool KvsParse(const std::vector<KvsOption>& table, const std::vector<std::string>& args, bool stopAtOperand,
              KvsArgs& out, std::string& problem)
{
    TRACE("KvsOptions.KvsParse");
    out = KvsArgs();
    problem.clear();
    bool ended = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (ended || !IsOption_(a) || a == "--") {
            if (!ended && a == "--") ended = true;
            else out.operands.push_back(a);
            if (stopAtOperand) ended = true;
            continue;
        }
        const size_t eq = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
        const std::string name = a.substr(0, eq);
        const KvsOption* o = Find_(table, name);
        if (!o) {
            problem = "unknown option '" + a + "'";
            return false;
        }
        const size_t count = ValueCount_(*o);
        // A flag said twice says the same; a value given twice would leave one of them unused.
        if (KvsHas(out, o->name) && count == 0 && eq == std::string::npos) continue;
        if (KvsHas(out, o->name)) {
            problem = std::string(o->name) + " is given twice";
            return false;
        }
        if (count == 0 && eq != std::string::npos) {
            problem = std::string(o->name) + " takes no value";
            return false;
        }
        std::vector<std::string> values;
        if (eq != std::string::npos) values.push_back(a.substr(eq + 1));
        while (values.size() < count && i + 1 < args.size()) values.push_back(args[++i]);
        if (values.size() < count) {
            problem = o->kind == KVS_INT ? RangeProblem_(*o) : std::string(o->name) + " needs a value";
            return false;
        }
        for (const std::string& v : values) {
            problem = KvsCheckValue(*o, v);
            if (!problem.empty()) return false;
        }
        out.given.emplace_back(o->name, values);
    }
    for (const KvsOption& o : table) {
        if (!KvsHas(out, o.name)) continue;
        if (o.excludes && KvsHas(out, o.excludes)) {
            problem = std::string(o.name) + " and " + o.excludes + " exclude each other";
            return false;
        }
        if (o.needs && !KvsHas(out, o.needs)) {
            problem = std::string(o.name) + " needs " + o.needs;
            return false;
        }
    }
    return true;
}

bool KvsHas(const KvsArgs& args, const std::string& name)
{
    TRACE("KvsOptions.KvsHas");
    for (const auto& g : args.given)
        if (g.first == name) return true;
    return false;
}

std::string KvsValue(const KvsArgs& args, const std::string& name, size_t k)
{
    TRACE("KvsOptions.KvsValue");
    for (const auto& g : args.given)
        if (g.first == name && k < g.second.size()) return g.second[k];
    return std::string();
}

int KvsNumber(const KvsArgs& args, const std::string& name, int def, size_t k)
{
    TRACE("KvsOptions.KvsNumber");
    return KvsHas(args, name) ? std::atoi(KvsValue(args, name, k).c_str()) : def;
}

int KvsChoice(const std::vector<KvsOption>& table, const KvsArgs& args, const std::string& name)
{
    TRACE("KvsOptions.KvsChoice");
    const KvsOption* o = Find_(table, name);
    return o && KvsHas(args, name) ? ChoiceIndex_(*o, KvsValue(args, name)) : -1;
}

std::string KvsUsageOptions(const std::vector<KvsOption>& table)
{
    TRACE("KvsOptions.KvsUsageOptions");
    std::string s;
    for (size_t i = 0; i < table.size(); ++i) {
        const KvsOption& o = table[i];
        if (o.alone) continue;
        std::string item = Head_(o);
        const KvsOption* next = i + 1 < table.size() ? &table[i + 1] : nullptr;
        if (next && ((next->excludes && std::string(next->excludes) == o.name) ||
                     (o.excludes && std::string(o.excludes) == next->name))) {
            const char* bar = o.kind == KVS_FLAG && next->kind == KVS_FLAG ? "|" : " | ";
            item = "[" + item + bar + Head_(*next) + "]";
            ++i;
        } else if (next && next->needs && std::string(next->needs) == o.name) {
            item = "[" + item + " [" + Head_(*next) + "]]";
            ++i;
        } else {
            item = "[" + item + "]";
        }
        s += (s.empty() ? "" : " ") + item;
    }
    return s;
}

std::string KvsUsageLine(const std::vector<KvsOption>& table, const std::string& operands)
{
    TRACE("KvsOptions.KvsUsageLine");
    const std::string opts = KvsUsageOptions(table);
    const size_t at = operands.find("%o");
    if (at != std::string::npos) {
        std::string s = operands;
        s.replace(at, 2, opts);
        // No options: no doubled or trailing blank where they would stand.
        while (s.find("  ") != std::string::npos) s.erase(s.find("  "), 1);
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    }
    if (opts.empty()) return operands;
    return operands.empty() ? opts : opts + " " + operands;
}

std::string KvsOptionLines(const std::vector<KvsOption>& table)
{
    TRACE("KvsOptions.KvsOptionLines");
    // The text column follows the longest head, up to a limit; a longer head has a line of its own.
    const size_t maxHead = 22;
    size_t width = 0;
    for (const KvsOption& o : table)
        if (Head_(o).size() <= maxHead && Head_(o).size() > width) width = Head_(o).size();
    const std::string indent(2 + width + 2, ' ');
    std::string s;
    for (const KvsOption& o : table) {
        const std::string head = Head_(o);
        std::string line = "  " + head;
        if (head.size() > width) line += "\n" + indent;
        else line += std::string(width - head.size() + 2, ' ');
        bool first = true;
        for (const std::string& part : Words_(HelpText_(o), '\n')) {
            s += (first ? line : indent) + part + "\n";
            first = false;
        }
        if (first) s += "  " + head + "\n";
    }
    return s;
}

std::string KvsCompletionLines(const std::vector<KvsOption>& table)
{
    TRACE("KvsOptions.KvsCompletionLines");
    static const char* const kinds[] = {"flag", "text", "file", "number", "choice"};
    std::string s;
    for (const KvsOption& o : table) {
        s += std::string("option ") + o.name + " " + kinds[o.kind];
        if (o.kind == KVS_CHOICE)
            for (const std::string& w : Words_(o.value, '|')) s += " " + w;
        if (o.kind == KVS_INT && ValueCount_(o) == 1 && o.high - o.low < 20)
            for (int n = o.low; n <= o.high; ++n) s += " " + std::to_string(n);
        s += "\n";
    }
    return s;
}

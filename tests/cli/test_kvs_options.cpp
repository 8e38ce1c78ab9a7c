// The options tables of kvs: what the parser takes is what the help, and so the manual page, and
// the completion offer; a value out of its range is bad usage before anything runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"

namespace {

// Words for option o that the parser must take: its values at the low end of the range.
std::vector<std::string> GoodWords(const KvsOption& o)
{
    std::vector<std::string> w = {o.name};
    const std::string value = o.value;
    if (o.kind == KVS_TEXT || o.kind == KVS_FILE) w.push_back("x");
    if (o.kind == KVS_CHOICE) w.push_back(value.substr(0, value.find('|')));
    if (o.kind == KVS_INT)
        for (size_t at = 0; at != std::string::npos; at = value.find(' ', at + 1)) w.push_back(std::to_string(o.low));
    return w;
}

void CheckTable(const std::string& where, const std::vector<KvsOption>& table, const std::string& help,
                const std::string& completion)
{
    for (const KvsOption& o : table) {
        SCOPED_TRACE(where + " " + o.name);
        std::vector<std::string> args = GoodWords(o);
        if (o.needs) {
            for (const KvsOption& n : table)
                if (std::string(n.name) == o.needs) {
                    const std::vector<std::string> more = GoodWords(n);
                    args.insert(args.end(), more.begin(), more.end());
                }
        }
        KvsArgs parsed;
        std::string problem;
        ASSERT_TRUE(KvsParse(table, args, false, parsed, problem)) << problem;
        EXPECT_TRUE(KvsHas(parsed, o.name));
        EXPECT_TRUE(parsed.operands.empty());
        if (o.kind != KVS_FLAG) {
            EXPECT_EQ(KvsValue(parsed, o.name), args[1]);
        }

        const std::string head = std::string(o.name) + (o.kind == KVS_FLAG ? "" : std::string(" ") + o.value);
        EXPECT_NE(help.find("\n  " + head), std::string::npos) << "no option line in\n" << help;
        if (!o.alone) {
            EXPECT_NE(help.find(head), help.find("\n  " + head) + 3) << "not in the usage line";
        }
        EXPECT_NE(completion.find("option " + std::string(o.name) + " "), std::string::npos) << completion;

        if (o.kind == KVS_INT) {
            // One past the range, given as "--name=VALUE" too.
            args = GoodWords(o);
            args.back() = std::to_string(o.high + 1LL);
            EXPECT_FALSE(KvsParse(table, args, false, parsed, problem));
            EXPECT_NE(problem.find(std::string(o.name) + " takes"), std::string::npos) << problem;
            args = {std::string(o.name) + "=" + std::to_string(o.low - 1LL)};
            EXPECT_FALSE(KvsParse(table, args, false, parsed, problem));
        }
        if (o.kind == KVS_CHOICE) {
            EXPECT_FALSE(KvsParse(table, {o.name, "no-such-choice"}, false, parsed, problem));
            EXPECT_NE(problem.find("no-such-choice"), std::string::npos) << problem;
        }
        if (o.excludes) {
            args = GoodWords(o);
            for (const KvsOption& x : table)
                if (std::string(x.name) == o.excludes) args.push_back(x.name);
            EXPECT_FALSE(KvsParse(table, args, false, parsed, problem)) << "excludes " << o.excludes;
        }
    }
}

}  // namespace

TEST(KvsOptions, ParserHelpAndCompletionAreMadeFromOneTable)
{
    CheckTable("kvs", KvsGlobalOptions(), KvsHelpText(), KvsCompletionText({}));
    for (const KvsCommand* c : KvsCommandTable()) {
        const std::string help = KvsCommandHelpText(c->name);
        EXPECT_NE(KvsHelpText().find(std::string("\n  ") + c->name), std::string::npos) << c->name;
        EXPECT_NE(KvsCompletionText({}).find(std::string("command ") + c->name + "\n"), std::string::npos);
        CheckTable(c->name, c->options, help, KvsCompletionText({c->name}));
        for (const KvsCommand& a : c->actions) {
            CheckTable(std::string(c->name) + " " + a.name, a.options, help, KvsCompletionText({c->name, a.name}));
            EXPECT_NE(KvsCompletionText({c->name}).find(std::string("action ") + a.name + "\n"), std::string::npos);
        }
    }
    // An unknown option, a missing value and an option after "--".
    KvsArgs parsed;
    std::string problem;
    const std::vector<KvsOption>& convert = KVS_CONVERT.options;
    EXPECT_FALSE(KvsParse(convert, {"a", "--bogus"}, false, parsed, problem));
    EXPECT_EQ(problem, "unknown option '--bogus'");
    EXPECT_FALSE(KvsParse(convert, {"a", "--resize", "10"}, false, parsed, problem));
    ASSERT_TRUE(KvsParse(convert, {"a", "--colors", "8", "--", "--colors"}, false, parsed, problem)) << problem;
    EXPECT_EQ(parsed.operands, (std::vector<std::string>{"a", "--colors"}));
    EXPECT_EQ(KvsNumber(parsed, "--colors", 0), 8);
}

TEST(KvsOptions, UsageErrorsExitTwoBeforeAnythingRuns)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"kvs", "convert", "a.bmp", "b.bmp", "--colors", "300"},
             {"kvs", "convert", "a.bmp", "b.bmp", "--resize", "0", "5"},
             {"kvs", "convert", "a.bmp", "b.bmp", "--dither", "ordered"},
             {"kvs", "add", "--mode", "sideways", "a.bmp"},
             {"kvs", "add", "--prefix", "P", "--prefix", "Q", "a.bmp"},
             {"kvs", "--partition", "1", "list"},
             {"kvs", "--drive", "x.img", "--partition", "5", "list"},
             {"kvs", "gallery", "open", "g.gal", "--as", "P", "--overwrite"},
         }) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(KvsMain(args), KVS_EXIT_USAGE) << args[1] << " " << args[2];
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("Try 'kvs "), std::string::npos) << err;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(KvsMain({"kvs", "--version"}), KVS_EXIT_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("kvs (Kelvane Studio) ", 0), 0u);
}

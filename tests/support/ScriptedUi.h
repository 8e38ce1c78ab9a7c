// A UiServices for tests: answers come from queues filled by the test, every box, question and
// prompt is recorded in order. An empty queue gives the answer of the preselected button (Yes/No
// questions), Cancel (prompts, file dialogs) or 6 (name-clash dialog closed).
//
//     ScriptedUi ui;              // installed for the lifetime of the object
//     ui.answers.push_back("N");
//     ...
//     EXPECT_EQ(ui.Count("yesno"), 1);
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/UiServices.h"

class ScriptedUi : public UiServices {
public:
    struct Entry {
        std::string kind;  // "error", "warning", "info", "yesno", "yesnocancel", "prompt", "overwrite",
                           // "resize", "open", "multiopen", "save"
        std::string text;
        int defaultButton = 0;
    };

    std::deque<std::string> answers;                     // "Y", "N", "C" for YesNo / YesNoCancel
    std::deque<std::optional<std::string>> prompts;      // nullopt = Cancel
    std::deque<int> overwrites;                          // OverwriteChoice values
    std::deque<bool> resizeModes;                        // ResizeModeDialog results
    std::deque<std::string> openFiles, saveFiles;        // "" = Cancel
    std::deque<std::vector<std::string>> multiOpenFiles;

    std::vector<Entry> log;
    std::vector<std::string> statuses;
    std::vector<bool> busyChanges;
    int pendingCalls = 0;

    explicit ScriptedUi(bool install = true) : installed_(install)
    {
        if (install) previous_ = SetUi(this);
    }
    ~ScriptedUi() override
    {
        if (installed_) SetUi(previous_);
    }
    ScriptedUi(const ScriptedUi&) = delete;
    ScriptedUi& operator=(const ScriptedUi&) = delete;

    int Count(const std::string& kind) const
    {
        int n = 0;
        for (const Entry& e : log)
            if (e.kind == kind) n++;
        return n;
    }
    // Text of the last entry of that kind, empty when there is none.
    std::string Last(const std::string& kind) const
    {
        for (auto it = log.rbegin(); it != log.rend(); ++it)
            if (it->kind == kind) return it->text;
        return std::string();
    }
    bool Has(const std::string& kind, const std::string& text) const
    {
        for (const Entry& e : log)
            if (e.kind == kind && e.text == text) return true;
        return false;
    }

    void ErrorBox(const std::string& text) override { log.push_back({"error", text}); }
    void WarningBox(const std::string& text) override { log.push_back({"warning", text}); }
    void InfoBox(const std::string& text) override { log.push_back({"info", text}); }
    std::string YesNo(const std::string& text, int defaultButton) override
    {
        log.push_back({"yesno", text, defaultButton});
        if (answers.empty()) return defaultButton == 1 ? "Y" : "N";
        std::string a = answers.front();
        answers.pop_front();
        return a == "Y" ? "Y" : "N";
    }
    std::string YesNoCancel(const std::string& text, int defaultButton) override
    {
        log.push_back({"yesnocancel", text, defaultButton});
        if (answers.empty()) return defaultButton == 1 ? "Y" : defaultButton == 2 ? "N" : "C";
        std::string a = answers.front();
        answers.pop_front();
        return a == "Y" || a == "N" ? a : "C";
    }
    bool PromptText(const std::string& caption, const std::string& label, std::string& text) override
    {
        log.push_back({"prompt", caption + "|" + label + "|" + text});
        if (prompts.empty() || !prompts.front()) {
            if (!prompts.empty()) prompts.pop_front();
            return false;
        }
        text = *prompts.front();
        prompts.pop_front();
        return true;
    }
    int OverwriteDialog(const std::string& caption, const std::string& text) override
    {
        log.push_back({"overwrite", caption + "|" + text});
        if (overwrites.empty()) return 6;
        int a = overwrites.front();
        overwrites.pop_front();
        return a;
    }
    bool ResizeModeDialog() override
    {
        log.push_back({"resize", ""});
        if (resizeModes.empty()) return true;
        bool a = resizeModes.front();
        resizeModes.pop_front();
        return a;
    }
    std::string FileOpenDlg(const std::string& title, std::string&, const std::string&, int&) override
    {
        log.push_back({"open", title});
        return Pop_(openFiles);
    }
    std::vector<std::string> MultiFileOpenDlg(const std::string& title, std::string&, const std::string&,
                                              int&) override
    {
        log.push_back({"multiopen", title});
        if (multiOpenFiles.empty()) return {};
        std::vector<std::string> a = multiOpenFiles.front();
        multiOpenFiles.pop_front();
        return a;
    }
    std::string FileSaveDlg(const std::string& title, std::string&, const std::string&, int&,
                            const std::string&) override
    {
        log.push_back({"save", title});
        return Pop_(saveFiles);
    }
    void ShowStatus(const std::string& text, bool) override
    {
        statuses.push_back(text);
        pendingCalls++;
    }
    void SetBusy(bool busy) override { busyChanges.push_back(busy); }
    void ProcessPendingMessages() override { pendingCalls++; }

private:
    static std::string Pop_(std::deque<std::string>& q)
    {
        if (q.empty()) return std::string();
        std::string a = q.front();
        q.pop_front();
        return a;
    }
    bool installed_;
    UiServices* previous_ = nullptr;
};

#include "invariants.h"

#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "ascii_case.h"
#include "search_key.h"

namespace {

constexpr std::size_t kReportLimit = 1023;
constexpr std::size_t kDeletionPathLimit = 255;

struct KnownReport {
    const char* caption;
    const char* format;
    bool question;
    bool fromCall;  // shown for a failed registry call
};

constexpr KnownReport kKnownReports[] = {
    {"SearchKey()", "ERROR_INVALID_PARAMETER", false, false},
    {"SearchKey()", "Error: RegOpenKeyEx[%s] Result=%d", false, true},
    {"SearchKey()", "Error: Child%d: RegOpenKeyEx[%s]: Result=%d", false, true},
    {"GetSubKeyName", "ERROR: RegEnumKeyEx()", false, true},
    {"DetectTarget", "ERROR: NotFound MagicKey1", false, false},
    {"DetectTarget", "ERROR: NotFound-END MagicKey1", false, false},
    {"DetectTarget", "Delete this key [%s] ?", true, false},
    {"DeleteKeyRepeat()", "ERROR_INVALID_PARAMETER", false, false},
    {"DeleteKeyRepeat()", "Error: RegOpenKeyEx[%s] Result=%d", false, true},
    {"DeleteKeyRepeat()", "Error: Child%d: RegOpenKeyEx[%s]: Result=%d", false, true},
    {"SearchKey()",
     "Error: RegEnumKeyEx[%s] Index=%d: a name of %d characters holds a NUL; subkey skipped", false,
     true},
    {"DeleteKeyRepeat()",
     "Error: RegEnumKeyEx[%s] Index=0: a name of %d characters holds a NUL; key not emptied", false,
     true},
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool MatchFrom(std::string_view text, std::size_t t, std::string_view format, std::size_t f,
               bool allowCut) {
    for (;;) {
        if (f == format.size()) {
            return t == text.size();
        }
        if (t == text.size() && allowCut) {
            return true;
        }
        if (format[f] == '%' && f + 1 < format.size() && format[f + 1] != '%') {
            char conversion = format[f + 1];
            if (conversion == 's') {
                for (std::size_t end = text.size() + 1; end-- > t;) {
                    if (MatchFrom(text, end, format, f + 2, allowCut)) {
                        return true;
                    }
                }
                return false;
            }
            std::size_t digits = t < text.size() && text[t] == '-' ? t + 1 : t;
            std::size_t end = digits;
            while (end < text.size() && IsDigit(text[end])) {
                ++end;
            }
            if (allowCut && end == text.size()) {
                return true;
            }
            for (; end > digits; --end) {
                if (MatchFrom(text, end, format, f + 2, allowCut)) {
                    return true;
                }
            }
            return false;
        }
        if (format[f] == '%') {
            ++f;  // "%%" stands for one '%'
        }
        if (t == text.size() || text[t] != format[f]) {
            return false;
        }
        ++t;
        ++f;
    }
}

std::string EscapeFormat(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '%') {
            escaped += '%';
        }
    }
    return escaped;
}

std::string Describe(const RecordedReport& report) {
    std::string text = report.text.size() > 160 ? report.text.substr(0, 160) + "..." : report.text;
    return (report.question ? "question " : "report ") + report.caption + " | " + text;
}

struct ExpectedReport {
    std::string caption;
    std::string format;
};

// The report that a failed call must bring, if any.
bool ReportForCall(const CallRecord& call, bool deletion, ExpectedReport* expected) {
    std::string code = std::to_string(static_cast<std::int32_t>(call.result));
    std::string caption = deletion ? "DeleteKeyRepeat()" : "SearchKey()";
    if (call.kind == CallKind::Enum && call.unusableName) {
        *expected = ExpectedReport{caption, "Error: RegEnumKeyEx[" + EscapeFormat(call.path) +
                                                "] Index=" + std::to_string(call.index) +
                                                ": a name of %d characters holds a NUL; " +
                                                (deletion ? "key not emptied" : "subkey skipped")};
        return true;
    }
    if (call.kind == CallKind::Enum && call.result != REG_ERROR_NO_MORE_ITEMS) {
        *expected = ExpectedReport{"GetSubKeyName", "ERROR: RegEnumKeyEx()"};
        return true;
    }
    if (call.kind != CallKind::Open) {
        return false;
    }
    if (call.access == ACCESS_KEY_WRITE) {
        *expected = ExpectedReport{
            caption, "Error: RegOpenKeyEx[" + EscapeFormat(call.path) + "] Result=" + code};
        return true;
    }
    if (call.access == ACCESS_KEY_WRITE_ENUMERATE) {
        // The deletion counts its passes; the search always says 1.
        *expected = ExpectedReport{caption, std::string("Error: Child") + (deletion ? "%d" : "1") +
                                                ": RegOpenKeyEx[" + EscapeFormat(call.path) +
                                                "]: Result=" + code};
        return true;
    }
    return false;  // InstallProperties and the product registration: silent
}

const KnownReport* KnownFormatOf(const RecordedReport& report) {
    for (const KnownReport& known : kKnownReports) {
        if (report.caption == known.caption && report.question == known.question &&
            MatchesReportFormat(report.text, known.format)) {
            return &known;
        }
    }
    return nullptr;
}

// The walk's own refusal of a path it cannot name: reported as an open that
// failed with 206, though no open was made.
bool IsWalkPathOverflow(const RecordedReport& report) {
    if (report.caption != "SearchKey()" || report.text.rfind("Error: Child1: ", 0) != 0) {
        return false;
    }
    static const std::string kSuffix = "]: Result=206";
    return report.text.size() >= kReportLimit ||
           (report.text.size() > kSuffix.size() &&
            report.text.compare(report.text.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0);
}

// The text of a value as the engine reads it: up to its first NUL, and only
// when it fits in 256 bytes.
std::string ValueTextOf(const SnapshotKey& key, std::string_view name) {
    for (const SnapshotValue& value : key.values) {
        if (EqualsIgnoreAsciiCase(value.name.c_str(), std::string(name).c_str())) {
            if (value.data.size() > 256) {
                return "";
            }
            std::string text = value.data.substr(0, value.data.find('\0'));
            return text.size() > 255 ? "" : text;
        }
    }
    return "";
}

class Checker {
  public:
    Checker(const RegistrySnapshot& before, const RegistrySnapshot& after, const CheckedRun& run,
            const InvariantOptions& options)
        : before_(before), after_(after), run_(run) {
        for (const RegistryLocation& location : options.unwatched) {
            unwatched_.insert(NormalKey(location.root, location.path));
        }
    }

    std::vector<std::string> Check() {
        deletionStart_ = FirstDeletionCall(run_);
        found_ = run_.outcome != RepairOutcome::NotFound;
        CheckHandles();
        CheckTargets();
        CompareTrees();
        CheckOutcome();
        CheckCalls();
        CheckLeftovers();
        CheckReports();
        return violations_;
    }

  private:
    struct Leftover {
        const SnapshotKey* key;
        std::string location;
    };

    void Violation(std::string text) { violations_.push_back(std::move(text)); }

    // "root\a\b" folded, empty components dropped, for comparing locations.
    static std::string NormalKey(RegKey root, std::string_view path) {
        std::string key = std::to_string(root);
        while (!path.empty()) {
            std::size_t cut = path.find('\\');
            std::string_view name = path.substr(0, cut);
            if (!name.empty()) {
                key += '\\';
                key += FoldName(name);
            }
            path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
        }
        return key;
    }

    void CheckHandles() {
        if (run_.openHandlesAfter != 0) {
            Violation(std::to_string(run_.openHandlesAfter) + " key(s) left open");
        }
    }

    void CheckTargets() {
        const RepairTargetRecord& targets = run_.targets;
        recorded_ = targets.ProductKeyRoot != 0 || targets.DataKeyRoot != 0 ||
                    !targets.ProductKeyPath.empty() || !targets.DataKeyPath.empty();
        if (!recorded_) {
            return;
        }
        if (!found_) {
            Violation("a target was recorded, yet the outcome is not-found");
        }
        if (targets.ProductKeyRoot != HKEY_USERS_ROOT ||
            targets.DataKeyRoot != HKEY_LOCAL_MACHINE_ROOT) {
            Violation("recorded target roots are not HKEY_USERS and HKEY_LOCAL_MACHINE");
        }
        productTarget_ = before_.Resolve(targets.ProductKeyRoot, targets.ProductKeyPath.c_str());
        dataTarget_ = before_.Resolve(targets.DataKeyRoot, targets.DataKeyPath.c_str());
        if (productTarget_ == nullptr || dataTarget_ == nullptr) {
            Violation("a recorded target did not exist before the run: " +
                      DescribeLocation(targets.ProductKeyRoot, targets.ProductKeyPath.c_str()) +
                      " / " + DescribeLocation(targets.DataKeyRoot, targets.DataKeyPath.c_str()));
        }
        if (productTarget_ != nullptr && productTarget_ == dataTarget_) {
            Violation("both targets name one key");
        }
    }

    void CompareTrees() {
        for (RegKey root : {HKEY_LOCAL_MACHINE_ROOT, HKEY_USERS_ROOT}) {
            path_ = DescribeLocation(root, "");
            CompareKey(root, *before_.Root(root), after_.Root(root), nullptr, 0, false);
        }
    }

    // Compares the subkeys of b (before) with those of a (after, null when
    // gone). target: the target tree b lies in; composed: the length of b's
    // path as the deletion composes it.
    void CompareKey(RegKey root, const SnapshotKey& b, const SnapshotKey* a,
                    const SnapshotKey* target, std::size_t composed, bool removalReported) {
        std::size_t pathLength = path_.size();
        for (const auto& [folded, subkey] : b.subkeys) {
            const SnapshotKey* child = subkey.get();
            path_.resize(pathLength);
            path_ += '\\';
            path_ += child->name;
            bool isTargetRoot = child == productTarget_ || child == dataTarget_;
            if (IsUnwatched(root) && !isTargetRoot && target == nullptr) {
                continue;
            }
            const SnapshotKey* childTarget = target;
            std::size_t childComposed = composed + 1 + child->name.size();
            if (isTargetRoot) {
                childTarget = child;
                const char* text = child == productTarget_ ? run_.targets.ProductKeyPath.c_str()
                                                           : run_.targets.DataKeyPath.c_str();
                childComposed = std::strlen(text);
                const char* lastBackslash = std::strrchr(text, '\\');
                if (lastBackslash == nullptr || lastBackslash[1] == '\0' ||
                    childComposed > kDeletionPathLimit) {
                    engineRefused_.insert(child);
                }
            } else if (childTarget != nullptr && (child->name.empty() || child->unspellable ||
                                                  child->name.find('\0') != std::string::npos ||
                                                  childComposed > kDeletionPathLimit)) {
                engineRefused_.insert(child);
            }
            if (childTarget != nullptr) {
                insideTargets_.insert(child);
                parentOf_[child] = &b;
            }
            const SnapshotKey* afterChild = a != nullptr ? a->Subkey(child->name) : nullptr;
            bool childRemovalReported = removalReported;
            if (afterChild == nullptr) {
                ++removedKeys_;
                if (childTarget == nullptr && !removalReported) {
                    Violation("deleted outside the target trees: " + path_);
                    childRemovalReported = true;
                }
            } else {
                if (afterChild->name != child->name) {
                    Violation("renamed: " + path_ + " -> " + afterChild->name);
                }
                if (!(afterChild->values == child->values)) {
                    Violation("values changed: " + path_);
                }
                if (childTarget != nullptr) {
                    leftovers_.push_back(Leftover{child, path_});
                }
            }
            CompareKey(root, *child, afterChild, childTarget, childComposed, childRemovalReported);
        }
        path_.resize(pathLength);
        if (a == nullptr) {
            return;
        }
        for (const auto& [folded, subkey] : a->subkeys) {
            if (b.subkeys.count(folded) == 0) {
                std::string added = path_ + "\\" + subkey->name;
                if (!IsUnwatched(root, added)) {
                    Violation("added: " + added);
                }
            }
        }
    }

    bool IsUnwatched(RegKey root) const { return IsUnwatched(root, path_); }
    bool IsUnwatched(RegKey root, const std::string& described) const {
        if (unwatched_.empty()) {
            return false;
        }
        // described starts with the root's name and a backslash.
        std::size_t cut = described.find('\\');
        std::string path = cut == std::string::npos ? "" : described.substr(cut + 1);
        std::string key = NormalKey(root, path);
        for (const std::string& tree : unwatched_) {
            if (key == tree ||
                (key.size() > tree.size() && key.compare(0, tree.size(), tree) == 0 &&
                 key[tree.size()] == '\\')) {
                return true;
            }
        }
        return false;
    }

    bool TargetGoneAfter(RegKey root, const char* path) const {
        return after_.Resolve(root, path) == nullptr;
    }

    void CheckOutcome() {
        bool bothGone =
            recorded_ &&
            TargetGoneAfter(run_.targets.ProductKeyRoot, run_.targets.ProductKeyPath.c_str()) &&
            TargetGoneAfter(run_.targets.DataKeyRoot, run_.targets.DataKeyPath.c_str());
        switch (run_.outcome) {
            case RepairOutcome::Removed:
                if (!bothGone) {
                    Violation("outcome removed, but a target tree is still there");
                }
                break;
            case RepairOutcome::NotRemoved:
                if (bothGone) {
                    Violation("outcome not-removed, but both target trees are gone");
                }
                break;
            case RepairOutcome::NotFound:
                if (removedKeys_ != 0) {
                    Violation("outcome not-found, but " + std::to_string(removedKeys_) +
                              " key(s) were deleted");
                }
                break;
        }
    }

    void CheckCalls() {
        for (std::size_t i = 0; i < run_.calls.size(); ++i) {
            const CallRecord& call = run_.calls[i];
            bool deletion = i >= deletionStart_;
            std::string where = DescribeLocation(call.root, call.path);
            if (!deletion && call.kind == CallKind::Delete) {
                Violation("the walk deleted: " + where);
                continue;
            }
            if (!deletion) {
                continue;
            }
            const SnapshotKey* subject = before_.Resolve(call.root, call.path);
            switch (call.kind) {
                case CallKind::Open:
                    if (call.access != ACCESS_KEY_WRITE &&
                        call.access != ACCESS_KEY_WRITE_ENUMERATE) {
                        Violation("deletion opened with access " + std::to_string(call.access) +
                                  ": " + where);
                    }
                    if (call.result != REG_OK) {
                        (call.access == ACCESS_KEY_WRITE ? failedParentOpen_ : selfRefused_)
                            .insert(subject);
                    }
                    break;
                case CallKind::Enum:
                    if (call.result != REG_OK &&
                        (call.result != REG_ERROR_NO_MORE_ITEMS || call.subjectHadSubkeys)) {
                        selfRefused_.insert(subject);
                    }
                    break;
                case CallKind::Query:
                    break;
                case CallKind::Delete:
                    // A failed delete of a name that names no key changes
                    // nothing: a name the code page cannot spell comes so.
                    if (subject == nullptr && call.result != REG_OK) {
                        break;
                    }
                    if (subject == nullptr || insideTargets_.count(subject) == 0) {
                        Violation("delete attempted outside the target trees: " + where);
                    }
                    attempted_.insert(subject);
                    if (call.result != REG_OK) {
                        (call.subjectHadSubkeys ? refusedWithSubkeys_ : selfRefused_)
                            .insert(subject);
                    }
                    break;
            }
        }
    }

    // A key of a target tree may stay only for a refusal: of a call about it,
    // of the open of its parent, of its path by the deletion, or, for a key
    // that still has subkeys, of one of those. A key the deletion never tried
    // may stay below one that stayed for such a reason.
    void CheckLeftovers() {
        std::unordered_map<const SnapshotKey*, bool> self;
        std::unordered_set<const SnapshotKey*> hasRefusedSubkey;
        for (auto it = leftovers_.rbegin(); it != leftovers_.rend(); ++it) {
            const SnapshotKey* key = it->key;
            const SnapshotKey* parent = parentOf_[key];
            bool refused =
                selfRefused_.count(key) != 0 || failedParentOpen_.count(parent) != 0 ||
                engineRefused_.count(key) != 0 ||
                (refusedWithSubkeys_.count(key) != 0 && hasRefusedSubkey.count(key) != 0);
            self[key] = refused;
            if (refused) {
                hasRefusedSubkey.insert(parent);
            }
        }
        std::unordered_map<const SnapshotKey*, bool> justified;
        for (const Leftover& leftover : leftovers_) {
            const SnapshotKey* key = leftover.key;
            bool isTargetRoot = key == productTarget_ || key == dataTarget_;
            bool ok = self[key];
            if (!ok && !isTargetRoot && attempted_.count(key) == 0) {
                auto parent = justified.find(parentOf_[key]);
                ok = parent != justified.end() && parent->second;
            }
            justified[key] = ok;
            if (!ok) {
                Violation("left behind without a refusal: " + leftover.location);
            }
        }
    }

    void CheckReports() {
        const std::vector<RecordedReport>& reports = run_.reports;
        if (!run_.diagnostic) {
            if (!reports.empty()) {
                Violation("outside diagnostic mode: " + Describe(reports.front()));
            }
            return;
        }
        std::vector<ExpectedReport> expected;
        for (std::size_t i = 0; i < run_.calls.size(); ++i) {
            const CallRecord& call = run_.calls[i];
            ExpectedReport report;
            if ((call.result != REG_OK || call.unusableName) &&
                ReportForCall(call, i >= deletionStart_, &report)) {
                expected.push_back(std::move(report));
            }
        }
        std::size_t next = 0;
        int questions = 0;
        std::size_t questionAt = reports.size();
        for (std::size_t i = 0; i < reports.size(); ++i) {
            const RecordedReport& report = reports[i];
            const KnownReport* known = KnownFormatOf(report);
            if (known == nullptr) {
                Violation("unknown " + Describe(report));
                continue;
            }
            if (known->question) {
                ++questions;
                questionAt = i;
                continue;
            }
            if (!known->fromCall) {
                continue;
            }
            if (next < expected.size() && report.caption == expected[next].caption &&
                MatchesReportFormat(report.text, expected[next].format)) {
                ++next;
                continue;
            }
            // Only after the failed calls: a cut text may be either.
            if (IsWalkPathOverflow(report)) {
                continue;
            }
            Violation(Describe(report) + " where the failed calls call for " +
                      (next < expected.size()
                           ? expected[next].caption + " | " + expected[next].format.substr(0, 160)
                           : std::string("nothing more")));
            return;
        }
        if (next < expected.size()) {
            Violation("failed call not reported: " + expected[next].caption + " | " +
                      expected[next].format.substr(0, 160));
        }
        CheckQuestion(questions, questionAt);
    }

    void CheckQuestion(int questions, std::size_t questionAt) {
        const std::vector<RecordedReport>& reports = run_.reports;
        if (questions != (found_ ? 1 : 0)) {
            Violation(std::to_string(questions) + " question(s) for outcome " +
                      OutcomeName(run_.outcome));
            return;
        }
        if (!found_) {
            return;
        }
        if (dataTarget_ != nullptr) {
            const SnapshotKey* properties = dataTarget_->Subkey("InstallProperties");
            std::string version = properties ? ValueTextOf(*properties, "DisplayVersion") : "";
            std::string text = ("Delete this key [" + version + "] ?").substr(0, kReportLimit);
            if (reports[questionAt].text != text) {
                Violation("question " + reports[questionAt].text + " for a DisplayVersion of " +
                          version);
            }
        }
        if (!recorded_) {
            // Answered No: both deletions refuse the empty record.
            RecordedReport refusal{"DeleteKeyRepeat()", "ERROR_INVALID_PARAMETER", false};
            bool twoRefusals = reports.size() == questionAt + 3 &&
                               reports[questionAt + 1] == refusal &&
                               reports[questionAt + 2] == refusal;
            if (!twoRefusals || run_.outcome != RepairOutcome::NotRemoved ||
                deletionStart_ != run_.calls.size()) {
                Violation("answered No, yet not two refusals and nothing deleted");
            }
        }
    }

    const RegistrySnapshot& before_;
    const RegistrySnapshot& after_;
    const CheckedRun& run_;
    std::unordered_set<std::string> unwatched_;
    std::vector<std::string> violations_;
    std::size_t deletionStart_ = 0;
    bool found_ = false;
    bool recorded_ = false;
    const SnapshotKey* productTarget_ = nullptr;
    const SnapshotKey* dataTarget_ = nullptr;
    std::string path_;
    std::size_t removedKeys_ = 0;
    std::unordered_set<const SnapshotKey*> insideTargets_;
    std::unordered_map<const SnapshotKey*, const SnapshotKey*> parentOf_;
    std::unordered_set<const SnapshotKey*> engineRefused_;
    std::vector<Leftover> leftovers_;
    std::unordered_set<const SnapshotKey*> selfRefused_;
    std::unordered_set<const SnapshotKey*> failedParentOpen_;
    std::unordered_set<const SnapshotKey*> refusedWithSubkeys_;
    std::unordered_set<const SnapshotKey*> attempted_;
};

}  // namespace

bool MatchesReportFormat(const std::string& text, const std::string& format) {
    return MatchFrom(text, 0, format, 0, text.size() >= kReportLimit);
}

std::size_t FirstDeletionCall(const CheckedRun& run) {
    if (run.outcome == RepairOutcome::NotFound) {
        return run.calls.size();
    }
    for (std::size_t i = run.calls.size(); i-- > 0;) {
        if (run.calls[i].kind == CallKind::Query) {
            return i + 1;
        }
    }
    return 0;
}

std::vector<std::string> CheckRepairInvariants(const RegistrySnapshot& before,
                                               const RegistrySnapshot& after, const CheckedRun& run,
                                               const InvariantOptions& options) {
    return Checker(before, after, run, options).Check();
}

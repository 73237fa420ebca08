// Detection rules that the scenario files would need dozens of files for.
#include "detect_target.h"

#include <gtest/gtest.h>

#include "diagnostics.h"
#include "installer_data_survey.h"
#include "memory/memory_registry.h"
#include "support/recording_reporter.h"

namespace {

constexpr char kSid[] = "S-1-5-21-7-7-7-1001";
constexpr char kCode[] = "0123456789ABCDEF0123456789ABCDEF";
constexpr char kCandidate[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-21-7-7-7-1001"
    "\\Products\\0123456789ABCDEF0123456789ABCDEF";

class DetectTargetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseMemoryRegistry(&registry);
        Recorder().Reset();
        DiagnosticMode = false;
        RepairTargets = RepairTargetRecord{};
    }
    void TearDown() override {
        EXPECT_EQ(registry.OpenHandleCount(), 0u);
        UseMemoryRegistry(nullptr);
        DiagnosticMode = false;
    }
    void RegisterProduct(const std::string& sid, const std::string& code, const std::string& name) {
        auto key = registry.CreatePath(HKEY_USERS_ROOT,
                                       sid + "\\Software\\Microsoft\\Installer\\Products\\" + code);
        registry.SetValue(key, "ProductName", REG_TYPE_SZ, name + std::string(1, '\0'));
    }
    MemoryRegistry registry;
};

TEST(VersionTest, BuildNumberMustLieFrom11To89) {
    for (const char* passes :
         {"1.11.0015", "1.11.0050", "1.11.0060", "1.11.0075", "1.11.0011", "1.11.0089", "1.11.XY50",
          "1.11.0050 beta", "1.11.006", "1.11.00:", "1.11.00=",
          // Bytes from 128 count as negative numbers.
          "1.11.009\xFF", "1.11.00:\xE0"}) {
        EXPECT_TRUE(IsDamagedReleaseVersion(passes)) << passes;
    }
    for (const char* fails : {"1.11.0010", "1.11.0090", "1.12.0050", "1.11.50", "1.11", "",
                              "1.11.005", "1.11.00>", "1.11.00\xB0",
                              "1.11.00\xFF"
                              "5",
                              "1.11.0099", "1.11.0000", "1-11.0050", "1.11-0050"}) {
        EXPECT_FALSE(IsDamagedReleaseVersion(fails)) << fails;
    }
}

TEST_F(DetectTargetTest, AcceptedCandidateFillsEveryFieldSilently) {
    RegisterProduct(kSid, kCode, "DUVA Brelix for Windows");
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, "duva BRELIX for windows", "1.11.0050"), 1);
    EXPECT_EQ(RepairTargets.ProductKeyRoot, HKEY_USERS_ROOT);
    EXPECT_STREQ(RepairTargets.ProductKeyPath.c_str(),
                 "S-1-5-21-7-7-7-1001\\Software\\Microsoft\\Installer\\Products\\"
                 "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(RepairTargets.DataKeyRoot, HKEY_LOCAL_MACHINE_ROOT);
    EXPECT_STREQ(RepairTargets.DataKeyPath.c_str(), kCandidate);
    EXPECT_TRUE(Recorder().reports.empty());
}

TEST_F(DetectTargetTest, DataRootIsAlwaysLocalMachine) {
    auto key = registry.CreatePath(
        HKEY_LOCAL_MACHINE_ROOT,
        std::string(kSid) + "\\Software\\Microsoft\\Installer\\Products\\" + kCode);
    registry.SetValue(key, "ProductName", REG_TYPE_SZ, std::string("DUVA Brelix for Windows", 24));
    EXPECT_EQ(
        DetectTarget(HKEY_LOCAL_MACHINE_ROOT, kCandidate, "DUVA Brelix for Windows", "1.11.0050"),
        1);
    EXPECT_EQ(RepairTargets.ProductKeyRoot, HKEY_LOCAL_MACHINE_ROOT);
    EXPECT_EQ(RepairTargets.DataKeyRoot, HKEY_LOCAL_MACHINE_ROOT);
}

TEST_F(DetectTargetTest, NameTestFoldsOnlyAsciiLetters) {
    RegisterProduct(kSid, kCode, "DUVA Brelix for Windows");
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, "DUVA Brelix for Windows ", "1.11.0050"),
              0);
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, "DUVA Brelix for Windowſ", "1.11.0050"), 0);
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, "", "1.11.0050"), 0);
    RegisterProduct(kSid, kCode, "DUVA Brelix for Windows 2");
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, "DUVA Brelix for Windows 2", "1.11.0050"),
              0);
    EXPECT_EQ(RepairTargets.DataKeyRoot, 0u);
}

TEST_F(DetectTargetTest, ProductNameMustBeReadableTextUnder256Bytes) {
    auto product = registry.CreatePath(
        HKEY_USERS_ROOT,
        std::string(kSid) + "\\Software\\Microsoft\\Installer\\Products\\" + kCode);
    const std::string name = "DUVA Brelix for Windows";
    // Taken as text whatever its type, up to its first NUL or its end.
    registry.SetValue(product, "ProductName", REG_TYPE_BINARY, name);
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, name.c_str(), "1.11.0050"), 1);
    RepairTargets = RepairTargetRecord{};
    registry.SetValue(product, "ProductName", REG_TYPE_SZ,
                      name + std::string(256 - name.size(), '\0'));
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, name.c_str(), "1.11.0050"), 1);
    registry.SetValue(product, "ProductName", REG_TYPE_SZ,
                      name + std::string(257 - name.size(), '\0'));
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, name.c_str(), "1.11.0050"), 0);
    registry.RemoveValue(product, "ProductName");
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, name.c_str(), "1.11.0050"), 0);
}

TEST_F(DetectTargetTest, PathShapeFailuresReportInDiagnosticMode) {
    DiagnosticMode = true;
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT,
                           "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
                           "DUVA Brelix for Windows", "1.11.0050"),
              0);
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, "", "x", "1.11.0050"), 0);
    // A leading backslash is not counted: still only five.
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, "\\A\\B\\C\\D\\E\\F", "x", "1.11.0050"), 0);
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, "A\\B\\C\\D\\E\\F\\S-1-5-21", "x", "1.11.0050"), 0);
    ASSERT_EQ(Recorder().reports.size(), 4u);
    EXPECT_EQ(Recorder().reports[0], (RecordedReport{"DetectTarget", "ERROR: NotFound MagicKey1"}));
    EXPECT_EQ(Recorder().reports[1], (RecordedReport{"DetectTarget", "ERROR: NotFound MagicKey1"}));
    EXPECT_EQ(Recorder().reports[2], (RecordedReport{"DetectTarget", "ERROR: NotFound MagicKey1"}));
    EXPECT_EQ(Recorder().reports[3],
              (RecordedReport{"DetectTarget", "ERROR: NotFound-END MagicKey1"}));
}

TEST_F(DetectTargetTest, PositionalRuleTakesSeventhComponentAndLastComponent) {
    RegisterProduct("G", "I", "DUVA Brelix for Windows");
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, "A\\B\\C\\D\\E\\F\\G\\H\\I", "DUVA Brelix for Windows",
                           "1.11.0050"),
              1);
    EXPECT_STREQ(RepairTargets.ProductKeyPath.c_str(),
                 "G\\Software\\Microsoft\\Installer\\Products\\I");
}

TEST_F(DetectTargetTest, QuestionAnsweredNoStopsWithoutRecording) {
    RegisterProduct(kSid, kCode, "DUVA Brelix for Windows");
    DiagnosticMode = true;
    Recorder().answers = {false};
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, "DUVA Brelix for Windows", "1.11.0050"), 1);
    ASSERT_EQ(Recorder().reports.size(), 1u);
    EXPECT_EQ(Recorder().reports[0],
              (RecordedReport{"DetectTarget", "Delete this key [1.11.0050] ?", true}));
    EXPECT_EQ(RepairTargets.ProductKeyRoot, 0u);
    EXPECT_TRUE(RepairTargets.DataKeyPath.empty());
}

TEST_F(DetectTargetTest, RefusedOrMissingProductRegistrationIsSilentMismatch) {
    DiagnosticMode = true;
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, "DUVA Brelix for Windows", "1.11.0050"), 0);
    RegisterProduct(kSid, kCode, "DUVA Brelix for Windows");
    registry.SetAllowedAccess(
        registry.FindPath(
            HKEY_USERS_ROOT,
            std::string(kSid) + "\\Software\\Microsoft\\Installer\\Products\\" + kCode),
        ACCESS_KEY_READ);
    EXPECT_EQ(DetectTarget(HKEY_USERS_ROOT, kCandidate, "DUVA Brelix for Windows", "1.11.0050"), 0);
    EXPECT_TRUE(Recorder().reports.empty());
}

// What changed since the survey found a registration, and whether the test
// made again right before its deletion still lets it go.
struct ChangeRow {
    const char* name;
    void (*change)(MemoryRegistry& registry);
    bool stillDamaged;
    RegResult why;
};

constexpr char kProperties[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-21-7-7-7-1001"
    "\\Products\\0123456789ABCDEF0123456789ABCDEF\\InstallProperties";
constexpr char kProduct[] =
    "S-1-5-21-7-7-7-"
    "1001\\Software\\Microsoft\\Installer\\Products\\0123456789ABCDEF0123456789ABCDEF";

const ChangeRow kChangeRows[] = {
    {"nothing", [](MemoryRegistry&) {}, true, REG_OK},
    {"ProductName changed",
     [](MemoryRegistry& registry) {
         registry.SetValue(registry.FindPath(HKEY_USERS_ROOT, kProduct), "ProductName", REG_TYPE_SZ,
                           std::string("Other\0", 6));
     },
     false, REG_ERROR_INVALID_DATA},
    {"upgraded to 1.12",
     [](MemoryRegistry& registry) {
         registry.SetValue(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, kProperties),
                           "DisplayVersion", REG_TYPE_SZ, std::string("1.12.0020\0", 10));
     },
     false, REG_ERROR_INVALID_DATA},
    {"product registration gone",
     [](MemoryRegistry& registry) {
         registry.RemoveTree(registry.FindPath(HKEY_USERS_ROOT, kProduct));
     },
     false, REG_ERROR_FILE_NOT_FOUND},
    {"installer data gone",
     [](MemoryRegistry& registry) {
         registry.RemoveTree(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, kProperties));
     },
     false, REG_ERROR_FILE_NOT_FOUND},
};

TEST_F(DetectTargetTest, TestedAgainBeforeDeletionOnlyWhatStillPasses) {
    for (const ChangeRow& row : kChangeRows) {
        for (auto [root, top] :
             {std::pair{HKEY_USERS_ROOT, kSid}, {HKEY_LOCAL_MACHINE_ROOT, "SOFTWARE"}}) {
            if (registry.FindPath(root, top) != MemoryRegistry::kNoNode) {
                registry.RemoveTree(registry.FindPath(root, top));
            }
        }
        RegisterProduct(kSid, kCode, "DUVA Brelix for Windows");
        auto properties = registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, kProperties);
        registry.SetValue(properties, "DisplayName", REG_TYPE_SZ,
                          std::string("DUVA Brelix for Windows\0", 24));
        registry.SetValue(properties, "DisplayVersion", REG_TYPE_SZ,
                          std::string("1.11.0050\0", 10));
        InstallerDataSurvey survey = SurveyInstallerData();
        ASSERT_EQ(survey.found.size(), 1u) << row.name;
        row.change(registry);
        RegResult why = 12345;
        EXPECT_EQ(StillDamaged(survey.found[0], &why), row.stillDamaged) << row.name;
        EXPECT_EQ(why, row.why) << row.name;
    }
}

}  // namespace

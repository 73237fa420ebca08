#include "junit_report.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::string ReadAll(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The value of attribute name in the tag that starts at tag.
std::string Attribute(const std::string& text, std::size_t tag, const char* name) {
    std::size_t end = text.find('>', tag);
    std::string wanted = std::string(" ") + name + "=\"";
    std::size_t at = text.find(wanted, tag);
    if (at == std::string::npos || at > end) {
        return "";
    }
    at += wanted.size();
    return text.substr(at, text.find('"', at) - at);
}

std::string Unescaped(std::string text) {
    const std::pair<const char*, const char*> entities[] = {
        {"&quot;", "\""}, {"&apos;", "'"},  {"&lt;", "<"}, {"&gt;", ">"},
        {"&#x0A;", "\n"}, {"&#x0D;", "\r"}, {"&amp;", "&"}};
    for (const auto& entity : entities) {
        for (std::size_t at = text.find(entity.first); at != std::string::npos;
             at = text.find(entity.first, at + 1)) {
            text.replace(at, std::char_traits<char>::length(entity.first), entity.second);
        }
    }
    return text;
}

// GoogleTest's message starts with the file and line; what follows says what.
std::string FirstLine(const std::string& text) {
    std::size_t start = text.find('\n');
    start = start == std::string::npos ? 0 : start + 1;
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    return line.empty() ? text.substr(0, text.find('\n')) : line.substr(0, 240);
}

}  // namespace

std::string XmlEscape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\n':
                escaped += "&#x0A;";
                break;
            case '\r':
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                    escaped += '?';
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

ProgramReport ReadGoogleTestXml(const std::string& program, const std::wstring& path) {
    ProgramReport report;
    report.program = program;
    std::string text = ReadAll(path);
    std::size_t root = text.find("<testsuites");
    std::size_t close = text.rfind("</testsuites>");
    if (root == std::string::npos || close == std::string::npos) {
        return report;
    }
    report.read = true;
    report.tests = std::atoi(Attribute(text, root, "tests").c_str());
    report.seconds = std::atof(Attribute(text, root, "time").c_str());
    std::size_t body = text.find('>', root) + 1;
    report.suites = text.substr(body, close - body);
    const std::string suiteName = "<testsuite name=\"";
    for (std::size_t at = report.suites.find(suiteName); at != std::string::npos;
         at = report.suites.find(suiteName, at + 1)) {
        report.suites.insert(at + suiteName.size(), program + ".");
    }
    for (std::size_t at = text.find("<testcase "); at != std::string::npos && at < close;
         at = text.find("<testcase ", at + 1)) {
        std::size_t tagEnd = text.find('>', at);
        std::size_t end = text[tagEnd - 1] == '/' ? tagEnd : text.find("</testcase>", at);
        std::string name = Attribute(text, at, "classname") + "." + Attribute(text, at, "name");
        std::size_t failure = text.find("<failure ", at);
        std::size_t skipped = text.find("<skipped ", at);
        if (failure < end) {
            report.failed.push_back(
                {name, FirstLine(Unescaped(Attribute(text, failure, "message")))});
        } else if (skipped < end) {
            report.skipped.push_back(
                {name, FirstLine(Unescaped(Attribute(text, skipped, "message")))});
        }
    }
    return report;
}

std::string MergedJUnit(const std::vector<std::pair<std::string, std::string>>& properties,
                        const std::vector<OwnCase>& own,
                        const std::vector<ProgramReport>& programs) {
    int tests = static_cast<int>(own.size());
    int failures = 0;
    int skipped = 0;
    double seconds = 0;
    std::string ownCases;
    int ownFailures = 0;
    int ownSkipped = 0;
    for (const OwnCase& entry : own) {
        ownCases += "    <testcase classname=\"selftest\" name=\"" + XmlEscape(entry.name) + "\"";
        if (!entry.failure.empty()) {
            ++ownFailures;
            ownCases += "><failure message=\"" + XmlEscape(entry.failure) + "\"/></testcase>\n";
        } else if (!entry.skipped.empty()) {
            ++ownSkipped;
            ownCases += "><skipped message=\"" + XmlEscape(entry.skipped) + "\"/></testcase>\n";
        } else {
            ownCases += "/>\n";
        }
    }
    failures += ownFailures;
    skipped += ownSkipped;
    for (const ProgramReport& program : programs) {
        tests += program.tests;
        failures += static_cast<int>(program.failed.size());
        skipped += static_cast<int>(program.skipped.size());
        seconds += program.seconds;
    }
    char counts[160];
    std::snprintf(counts, sizeof counts,
                  " tests=\"%d\" failures=\"%d\" errors=\"0\" skipped=\"%d\" time=\"%.3f\"", tests,
                  failures, skipped, seconds);
    char ownCounts[128];
    std::snprintf(ownCounts, sizeof ownCounts,
                  " tests=\"%d\" failures=\"%d\" errors=\"0\" skipped=\"%d\"",
                  static_cast<int>(own.size()), ownFailures, ownSkipped);
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"KEYMEND self-test\"" +
        std::string(counts) + ">\n  <testsuite name=\"selftest\"" + ownCounts +
        ">\n    <properties>\n";
    for (const auto& property : properties) {
        xml += "      <property name=\"" + XmlEscape(property.first) + "\" value=\"" +
               XmlEscape(property.second) + "\"/>\n";
    }
    xml += "    </properties>\n" + ownCases + "  </testsuite>\n";
    for (const ProgramReport& program : programs) {
        xml += program.suites;
    }
    return xml + "</testsuites>\n";
}

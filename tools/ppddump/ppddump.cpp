// ppddump: prints the UI features, options and constraints of a PPD as the
// parser reads them, one line each, sorted by keyword then option:
//   FEATURE <keyword> <PickOne|PickMany|Boolean> default=<option>
//   OPTION <keyword> <option>
//   CONSTRAINT <keyword1> <option1 or *> <keyword2> <option2 or *>
// Keywords are written without their "*". Exit code 1 with a one-line error
// when the PPD cannot be read.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ppd/PPDCharClass.h"
#include "ppd/PPDSettings.h"

using namespace PPDParser;

namespace {

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Keyword(std::wstring_view k) { return Utf8(!k.empty() && k[0] == L'*' ? k.substr(1) : k); }

struct Feature {
    std::string uiType;
    std::string defaultOption;
    std::set<std::string> options;
};

// Splits a constraint line into keyword/option pairs: a token that starts
// with "*" is a keyword, the token after it (when it does not) its option.
bool ParseConstraint(std::wstring_view line, std::tuple<std::string, std::string, std::string, std::string>* out) {
    std::vector<std::wstring_view> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        size_t j = i;
        while (j < line.size() && !IsBlank(line[j])) ++j;
        if (j > i) tokens.push_back(line.substr(i, j - i));
        i = j;
    }
    std::string parts[4] = {"", "*", "", "*"};
    size_t t = 0;
    for (int pair = 0; pair < 2; ++pair) {
        if (t >= tokens.size() || tokens[t][0] != L'*') return false;
        parts[2 * pair] = Keyword(tokens[t++]);
        if (t < tokens.size() && tokens[t][0] != L'*') parts[2 * pair + 1] = Utf8(tokens[t++]);
    }
    *out = {parts[0], parts[1], parts[2], parts[3]};
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: ppddump FILE.ppd\n");
        return 2;
    }
    CPPDSettings settings;
    if (!settings.Parse(argv[1]) || settings.Statements().empty()) {
        fprintf(stderr, "ppddump: cannot read PPD %s\n", Utf8(argv[1]).c_str());
        return 1;
    }
    if (!settings.BuildGroups()) {
        fprintf(stderr, "ppddump: cannot group the statements of %s\n", Utf8(argv[1]).c_str());
        return 1;
    }

    std::map<std::string, Feature> features;
    for (int group = 0; group < kGroupCount; ++group) {
        for (const auto& e : settings.Group(group)) {
            if (e->kind != kEntryOptions) continue;
            const PPDStatement* openUI = nullptr;
            for (const PPDStatement* s : e->others)
                if (s->Id() == kIdOpenUI && !openUI) openUI = s;
            if (!openUI) continue;
            Feature& f = features[Keyword(e->keyword)];
            if (f.uiType.empty()) f.uiType = Utf8(openUI->value);
            if (e->defaultStatement) f.defaultOption = Utf8(e->defaultStatement->value);
            for (const PPDStatement* o : e->options) f.options.insert(Utf8(o->option));
        }
    }
    std::set<std::tuple<std::string, std::string, std::string, std::string>> constraints;
    for (const auto& s : settings.Statements()) {
        if (s->lineState != kLineGood || s->Id() != kIdUIConstraints) continue;
        std::tuple<std::string, std::string, std::string, std::string> c;
        if (ParseConstraint(s->value, &c)) constraints.insert(c);
    }

    for (const auto& [keyword, f] : features) {
        printf("FEATURE %s %s default=%s\n", keyword.c_str(), f.uiType.c_str(), f.defaultOption.c_str());
        for (const auto& option : f.options) printf("OPTION %s %s\n", keyword.c_str(), option.c_str());
    }
    for (const auto& [k1, o1, k2, o2] : constraints)
        printf("CONSTRAINT %s %s %s %s\n", k1.c_str(), o1.c_str(), k2.c_str(), o2.c_str());
    return 0;
}

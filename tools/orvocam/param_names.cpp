#include "tools/orvocam/param_names.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace orvocam {
namespace {

const ParamName kNames[] = {
    {0, "exposure", "us"},
    {1, "red_gain", ""},
    {2, "green_gain", ""},
    {3, "blue_gain", ""},
    {6, "field_of_view", ""},            // binning: the largest factor over the current one
    {7, "window_x_max", "px"},
    {8, "window_y_max", "px"},
    {9, "auto_white_balance", "on/off"},
    {10, "auto_exposure_and_gain", "on/off"},
    {11, "auto_exposure", "on/off"},
    {12, "auto_gain", "on/off"},
    {14, "mirror_columns", "on/off"},
    {15, "mirror_rows", "on/off"},
    {16, "mains_frequency", "Hz"},
    {17, "frame_rate", "fps"},
    {23, "light_mode", ""},
    {24, "status", ""},                  // reading it clears it
    {25, "mean_red", ""},
    {26, "mean_green", ""},
    {27, "mean_blue", ""},
    {28, "mean_luminance", ""},
    {29, "luminance_target", ""},
    {30, "one_shot_regulation", "on/off"},
    {31, "one_shot_white_balance", "on/off"},
    {32, "render_mode", ""},
    {33, "bad_pixel_capacity", "entries"},
    {34, "defect_correction", "on/off"},
    {35, "illumination_estimate", ""},
    {36, "bright_pixels", "px"},
    {37, "gain_reduction", "on/off"},
    {38, "min_luminance_target", ""},
    {39, "pixel_clock", "MHz"},
    {46, "next_changed_parameter", ""},
    {48, "low_luminance_threshold", ""},
    {49, "high_luminance_threshold", ""},
    {51, "skipping_not_binning", "on/off"},
    {52, "digital_gain", "on/off"},
    {53, "gain_doubling", "on/off"},
    {54, "video_format", ""},
    {70, "video_mode", ""},
};

std::string Canonical(const std::string& text) {
    std::string out;
    for (char c : text) out.push_back(c == '-' ? '_' : char(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

const ParamName* FindParamName(int id) {
    for (const ParamName& entry : kNames) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

std::string ParamLabel(int id) {
    const ParamName* entry = FindParamName(id);
    return entry ? entry->name : "parameter " + std::to_string(id);
}

std::string ParamUnit(int id) {
    const ParamName* entry = FindParamName(id);
    return entry && entry->unit[0] ? std::string(" ") + entry->unit : "";
}

std::vector<std::string> NearestParamNames(const std::string& text, size_t count) {
    const std::string wanted = Canonical(text);
    std::vector<std::pair<size_t, std::string>> scored;
    for (const ParamName& entry : kNames) {
        const std::string name = entry.name;
        // A name that contains what was typed is as near as names get.
        const size_t score = !wanted.empty() && name.find(wanted) != std::string::npos ? 0 : EditDistance(wanted, name);
        scored.emplace_back(score, name);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (size_t i = 0; i < scored.size() && i < count; ++i) names.push_back(scored[i].second);
    return names;
}

bool ResolveParam(const std::string& text, int* id, std::string* error) {
    if (!text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) {
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 0);
        if (*end == '\0' && value >= 0 && value < 1000) {
            *id = int(value);
            return true;
        }
        *error = "'" + text + "' is not a parameter number";
        return false;
    }
    const std::string wanted = Canonical(text);
    for (const ParamName& entry : kNames) {
        if (wanted == entry.name) {
            *id = entry.id;
            return true;
        }
    }
    *error = "there is no parameter named '" + text + "'; nearest:";
    for (const std::string& name : NearestParamNames(text, 3)) *error += " " + name;
    return false;
}

}  // namespace orvocam

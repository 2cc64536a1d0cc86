#include "platform/TextInputSourceIBusBackend.hpp"

#include <ibus.h>

#include <array>
#include <string_view>

namespace pelko {

namespace {

// Layouts whose letters are not ASCII.
constexpr std::array<std::string_view, 24> nonLatinLayouts{"am", "ara", "bd", "bg", "by", "cn", "ge", "gr",
                                                           "il", "in",  "ir", "kg", "kh", "kz", "la", "lk",
                                                           "mk", "mm",  "mn", "np", "rs", "ru", "th", "ua"};

IBusBus* asBus(void* bus) {
    return static_cast<IBusBus*>(bus);
}

std::string text(const gchar* value) {
    return value ? std::string(value) : std::string();
}

TextInputSource fromDescription(IBusEngineDesc* description) {
    return TextInputSourceIBusBackend::describe(text(ibus_engine_desc_get_name(description)),
                                                text(ibus_engine_desc_get_language(description)),
                                                text(ibus_engine_desc_get_layout(description)));
}

}  // namespace

std::shared_ptr<TextInputSourceIBusBackend> TextInputSourceIBusBackend::connect() {
    ibus_init();
    IBusBus* bus = ibus_bus_new();
    if (!bus) return nullptr;
    if (!ibus_bus_is_connected(bus)) {
        g_object_unref(bus);
        return nullptr;
    }
    return std::shared_ptr<TextInputSourceIBusBackend>(new TextInputSourceIBusBackend(bus));
}

TextInputSourceIBusBackend::~TextInputSourceIBusBackend() {
    g_object_unref(asBus(bus_));
}

TextInputSource TextInputSourceIBusBackend::describe(const std::string& name, const std::string& language,
                                                     const std::string& layout) {
    TextInputSource source;
    source.identifier = name;
    source.selectCapable = true;
    source.enabled = true;
    if (!language.empty()) source.language = language;
    if (name.rfind("xkb:", 0) == 0) {
        std::string base = layout.substr(0, layout.find('('));
        bool latin = true;
        for (auto other : nonLatinLayouts) {
            if (base == other) latin = false;
        }
        source.asciiCapable = latin;
        source.sourceType = keyboardLayoutType;
    } else {
        source.asciiCapable = false;
        source.sourceType = keyboardInputModeType;
        source.inputModeID = language == "ja" ? std::string(japaneseInputModeID) : "ibus.inputmethod." + name;
    }
    return source;
}

std::optional<std::vector<TextInputSource>> TextInputSourceIBusBackend::enabledKeyboardInputSources() {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GList* engines = ibus_bus_list_active_engines(asBus(bus_));
    G_GNUC_END_IGNORE_DEPRECATIONS
    std::vector<TextInputSource> sources;
    for (GList* item = engines; item; item = item->next) {
        auto* description = IBUS_ENGINE_DESC(item->data);
        sources.push_back(fromDescription(description));
        g_object_unref(description);
    }
    g_list_free(engines);
    return sources;
}

std::optional<TextInputSource> TextInputSourceIBusBackend::currentKeyboardInputSource() {
    IBusEngineDesc* description = ibus_bus_get_global_engine(asBus(bus_));
    if (!description) return std::nullopt;
    TextInputSource source = fromDescription(description);
    g_object_unref(description);
    return source;
}

std::optional<TextInputSource> TextInputSourceIBusBackend::currentASCIICapableKeyboardInputSource() {
    if (auto current = currentKeyboardInputSource(); current && current->asciiCapable.value_or(false)) {
        return current;
    }
    for (const auto& source : enabledKeyboardInputSources().value_or(std::vector<TextInputSource>{})) {
        if (source.asciiCapable.value_or(false)) return source;
    }
    return std::nullopt;
}

std::optional<TextInputSource> TextInputSourceIBusBackend::inputSourceForLanguage(
    const std::string& language) {
    std::optional<TextInputSource> layout;
    for (const auto& source : enabledKeyboardInputSources().value_or(std::vector<TextInputSource>{})) {
        if (source.language != language) continue;
        if (source.sourceType == std::string(keyboardInputModeType)) return source;
        if (!layout) layout = source;
    }
    return layout;
}

bool TextInputSourceIBusBackend::select(const TextInputSource& source) {
    return ibus_bus_set_global_engine(asBus(bus_), source.identifier.c_str());
}

}  // namespace pelko

#include "relayd/mqtt_choice.h"

#include "text/shown_text.h"

namespace relay::relayd {

mqtt_choice choose_mqtt(const std::string& command_line_url, const std::map<std::string, std::string>& section,
                        const std::string& config_file)
{
    mqtt_choice choice;
    choice.keys = section;
    choice.keys.erase("url");
    const auto file_url = section.find("url");
    choice.url = !command_line_url.empty() ? command_line_url
                 : file_url != section.end() ? file_url->second
                                             : std::string();
    if (!choice.url.empty()) {
        choice.wanted = true;
        return choice;
    }
    // Keys without a broker would be silently ignored, and an operator who
    // wrote them expects the boards on the network.
    if (!section.empty())
        choice.error = shown_text(config_file) +
                       ": the [mqtt] section has no url: add url = mqtt://HOST (or mqtts://) or "
                       "give --mqtt URL";
    return choice;
}

}  // namespace relay::relayd

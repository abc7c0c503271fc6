#include "service/request.h"

#include "protocol/relay_commands.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

namespace relay {
namespace {

struct command_word {
    const char* word;
    request_kind kind;
    bool takes_relay;
};

constexpr command_word command_words[] = {
    {"status", request_kind::status, false}, {"on", request_kind::on, true},
    {"off", request_kind::off, true},        {"toggle", request_kind::toggle, true},
    {"all-on", request_kind::all_on, false}, {"all-off", request_kind::all_off, false},
    {"watch", request_kind::watch, false},
};

const char* const known_commands = "status, on, off, toggle, all-on, all-off or watch";

bool valid_utf8(std::string_view text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return !decoder.hasError();
}

// Control bytes have no place in a JSON line outside escapes; NUL in
// particular would cut the line short for anything reading it as C text.
bool has_control_bytes(std::string_view text)
{
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 && byte != '\t')
            return true;
        if (byte == 0x7f)
            return true;
    }
    return false;
}

usage_error refuse(std::string why, const QJsonValue& id = QJsonValue(QJsonValue::Undefined))
{
    return usage_error{std::move(why), id};
}

}  // namespace

const char* request_word(request_kind kind)
{
    for (const auto& c : command_words)
        if (c.kind == kind)
            return c.word;
    return "?";
}

parsed_request parse_request(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() > max_request_bytes)
        return refuse("The line is longer than " + std::to_string(max_request_bytes) + " bytes.");
    if (line.find_first_not_of(" \t") == std::string_view::npos)
        return refuse("The line is empty; send one JSON object such as {\"cmd\":\"status\"}.");
    if (has_control_bytes(line))
        return refuse("The line holds control bytes; send one JSON object per line.");
    if (!valid_utf8(line))
        return refuse("The line is not valid UTF-8.");

    QJsonParseError error{};
    const auto document =
        QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size())), &error);
    if (error.error != QJsonParseError::NoError)
        return refuse("The line is not JSON (" + error.errorString().toStdString() + " at byte " +
                      std::to_string(error.offset) + ").");
    if (!document.isObject())
        return refuse("The line must be one JSON object such as {\"cmd\":\"status\"}.");

    const QJsonObject object = document.object();
    request r;
    r.id = object.value(QLatin1String("id"));
    const QJsonValue cmd = object.value(QLatin1String("cmd"));
    if (cmd.isUndefined())
        return refuse(std::string("The request has no \"cmd\"; use ") + known_commands + ".", r.id);
    if (!cmd.isString())
        return refuse("\"cmd\" must be a string.", r.id);
    const QString word = cmd.toString();
    const command_word* found = nullptr;
    for (const auto& c : command_words)
        if (word == QLatin1String(c.word))
            found = &c;
    if (!found) {
        // The word is echoed only when short, so a reply stays one short line.
        const std::string shown = word.size() <= 32 ? " \"" + word.toStdString() + "\"" : "";
        return refuse("Unknown command" + shown + "; use " + known_commands + ".", r.id);
    }
    r.kind = found->kind;

    const QJsonValue relay_value = object.value(QLatin1String("relay"));
    if (!found->takes_relay) {
        if (!relay_value.isUndefined())
            return refuse(std::string("\"") + found->word + "\" takes no relay.", r.id);
        return r;
    }
    if (relay_value.isUndefined())
        return refuse(std::string("\"") + found->word + "\" needs \"relay\": 1, 2, 3 or 4.", r.id);
    const double number = relay_value.toDouble(0.0);
    if (!relay_value.isDouble() || !std::isfinite(number) || number != std::floor(number) ||
        !is_relay_index(static_cast<int>(std::clamp(number, -1.0, 100.0))))
        return refuse("\"relay\" must be the number 1, 2, 3 or 4.", r.id);
    r.relay = static_cast<int>(number);
    return r;
}

}  // namespace relay

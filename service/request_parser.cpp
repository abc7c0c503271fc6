#include "service/request.h"

#include "protocol/relay_commands.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

namespace relay {
namespace {

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
        return refuse(std::string("The request has no \"cmd\"; use ") + command_words_listed() + ".", r.id);
    if (!cmd.isString())
        return refuse("\"cmd\" must be a string.", r.id);
    const QString word = cmd.toString();
    const auto found = parse_command_word(word.toStdString());
    if (!found) {
        // The word is echoed only when short, so a reply stays one short line.
        const std::string shown = word.size() <= 32 ? " \"" + word.toStdString() + "\"" : "";
        return refuse("Unknown command" + shown + "; use " + command_words_listed() + ".", r.id);
    }
    r.kind = *found;

    const QJsonValue relay_value = object.value(QLatin1String("relay"));
    if (!takes_relay(*found)) {
        if (!relay_value.isUndefined())
            return refuse(std::string("\"") + command_word(*found) + "\" takes no relay.", r.id);
        return r;
    }
    if (relay_value.isUndefined())
        return refuse(std::string("\"") + command_word(*found) + "\" needs \"relay\": 1, 2, 3 or 4.", r.id);
    const double number = relay_value.toDouble(0.0);
    if (!relay_value.isDouble() || !std::isfinite(number) || number != std::floor(number) ||
        !is_relay_index(static_cast<int>(std::clamp(number, -1.0, 100.0))))
        return refuse("\"relay\" must be the number 1, 2, 3 or 4.", r.id);
    r.relay = static_cast<int>(number);
    return r;
}

}  // namespace relay

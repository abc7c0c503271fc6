#include "service/replies.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace relay {
namespace {

QJsonObject relays_object(const relay_statuses& shown)
{
    QJsonObject relays;
    for (int i = 0; i < relay_count; ++i)
        relays.insert(QString::number(i + 1), QLatin1String(status_word(shown[static_cast<std::size_t>(i)])));
    return relays;
}

QByteArray line(QJsonObject object, const QJsonValue& id)
{
    if (!id.isUndefined())
        object.insert(QLatin1String("id"), id);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

}  // namespace

QByteArray ok_reply(const QJsonValue& id, const relay_statuses& shown, const board_facts& facts)
{
    QJsonObject reply{{QLatin1String("ok"), true}, {QLatin1String("relays"), relays_object(shown)}};
    reply.insert(QLatin1String("port"), QString::fromStdString(facts.port));
    if (facts.address)
        reply.insert(QLatin1String("address"), int(*facts.address));
    return line(reply, id);
}

QByteArray error_reply(const QJsonValue& id, reply_code code, const std::string& error,
                       const std::optional<relay_statuses>& shown)
{
    QJsonObject reply{{QLatin1String("ok"), false},
                      {QLatin1String("code"), QLatin1String(reply_code_word(code))},
                      {QLatin1String("error"), QString::fromStdString(error)}};
    if (shown)
        reply.insert(QLatin1String("relays"), relays_object(*shown));
    return line(reply, id);
}

QByteArray state_event(const relay_statuses& shown, link_condition link)
{
    return line(QJsonObject{{QLatin1String("event"), QLatin1String("state")},
                            {QLatin1String("relays"), relays_object(shown)},
                            {QLatin1String("link"), QLatin1String(link_word(link))}},
                QJsonValue(QJsonValue::Undefined));
}

}  // namespace relay

#include "common/role.h"

namespace {
struct TRoleName
{
    TRole Role;
    const char *Name;
    const char16_t *Text;
};
constexpr TRoleName Names[] = {{TRole::Single, "single", u"单机"},
                               {TRole::Master, "master", u"主用"},
                               {TRole::Backup, "backup", u"备用"},
                               {TRole::Fault, "fault", u"故障"}};
} // namespace

QString Role::Name(TRole role)
{
    for (const TRoleName &n : Names)
        if (n.Role == role)
            return QString::fromLatin1(n.Name);
    return QString();
}

QString Role::Text(TRole role)
{
    for (const TRoleName &n : Names)
        if (n.Role == role)
            return QString::fromUtf16(n.Text);
    return QString();
}

bool Role::Parse(const QString &name, TRole *role)
{
    for (const TRoleName &n : Names)
        if (name.trimmed().compare(QLatin1String(n.Name), Qt::CaseInsensitive) == 0) {
            *role = n.Role;
            return true;
        }
    return false;
}

#include "porterror.h"

#include <QCoreApplication>

namespace {

QString portText(const char* german)
{
    return QCoreApplication::translate("ComInterface", german);
}

} // namespace

QString portErrorText(QSerialPort::SerialPortError error, const QString& systemText)
{
    // The texts of the errors a port open or a pulled adapter gives.
    static const struct
    {
        const char* system;
        const char* german;
    } known[] = {
        {"No such file or directory", "Datei oder Gerät nicht gefunden"},
        {"No such device", "Gerät nicht vorhanden"},
        {"Permission denied", "Zugriff verweigert"},
        {"Device or resource busy", "Gerät oder Ressource belegt"},
        {"Input/output error", "Ein-/Ausgabefehler"},
        {"Inappropriate ioctl for device", "Kein serielles Gerät"},
        {"Operation not permitted", "Vorgang nicht erlaubt"},
        {"Is a directory", "Ist ein Verzeichnis"},
        {"Resource temporarily unavailable", "Gerät vorübergehend nicht verfügbar"},
    };
    const QString trimmed = systemText.trimmed();
    for (const auto& k : known)
        if (trimmed.compare(QLatin1String(k.system), Qt::CaseInsensitive) == 0)
            return portText(k.german);
    switch (error) {
    case QSerialPort::NoError:
        return QString();
    case QSerialPort::DeviceNotFoundError:
        return portText("Datei oder Gerät nicht gefunden");
    case QSerialPort::PermissionError:
        return portText("Zugriff verweigert (Port belegt oder keine Berechtigung)");
    case QSerialPort::OpenError:
        return portText("Port ist bereits geöffnet");
    case QSerialPort::NotOpenError:
        return portText("Port ist nicht geöffnet");
    case QSerialPort::WriteError:
        return portText("Fehler beim Schreiben auf den Port");
    case QSerialPort::ReadError:
        return portText("Fehler beim Lesen vom Port");
    case QSerialPort::ResourceError:
        return portText("Gerät nicht mehr verfügbar (getrennt?)");
    case QSerialPort::UnsupportedOperationError:
        return portText("Vom Gerät nicht unterstützt");
    case QSerialPort::TimeoutError:
        return portText("Zeitüberschreitung");
    default:
        return portText("Unbekannter Fehler");
    }
}

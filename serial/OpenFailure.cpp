#include "OpenFailure.h"

#include <cerrno>
#include <cstring>

std::string PortFailureReason(const EComPort& e, const std::string& portName)
{
    const std::string dev = PortNameToDevice(portName);
    switch (e.WinCode) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "Port " + dev + " nie istnieje (urządzenie nie jest podłączone).";
    case EACCES:
    case EPERM:
        return "Brak uprawnień do portu " + dev +
               ". Użytkownik musi należeć do grupy dialout: sudo usermod -aG dialout $USER, "
               "potem trzeba się wylogować i zalogować ponownie.";
    case EBUSY:
    case EWOULDBLOCK:
        return "Port " + dev + " jest używany przez inny program.";
    default:
        break;
    }
    if (e.WinCode > 0) // strerror follows the locale QApplication set up
        return "Port " + dev + ": " + std::strerror(e.WinCode) + " (błąd systemu " +
               std::to_string(e.WinCode) + ").";
    return "Port " + dev + ": " + e.what();
}

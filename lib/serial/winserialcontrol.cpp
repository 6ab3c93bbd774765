#include "winserialcontrol.h"

#include "portnames.h"

#include <windows.h>

#include <array>
#include <chrono>
#include <utility>

namespace {

// A byte lasts about a millisecond at 9600 baud; a 2 ms poll keeps the receive notification
// within two bytes of the arrival, well inside the 30 ms settle wait.
constexpr std::chrono::milliseconds kPollInterval{2};
// A write of a few frame bytes takes milliseconds; one that does not finish in this time plus
// a byte time per byte is stuck.
constexpr DWORD kWriteTimeoutMs = 1000;
constexpr DWORD kWriteTimeoutPerByteMs = 2;
constexpr DWORD kQueueSize = 4096;

BYTE toWinParity(char parity)
{
    switch (parity) {
    case 'E':
        return EVENPARITY;
    case 'O':
        return ODDPARITY;
    case 'M':
        return MARKPARITY;
    case 'S':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

// \\.\ reaches COM10 and above too, which the plain name does not.
QString win32DeviceName(const QString& name)
{
    if (name.startsWith(QStringLiteral("\\\\")))
        return name;
    return QStringLiteral("\\\\.\\") + name;
}

} // namespace

WinSerialControl::WinSerialControl(QObject* parent)
    : SerialControl(parent), handle_(INVALID_HANDLE_VALUE)
{
    poll_.setInterval(kPollInterval);
    poll_.setTimerType(Qt::PreciseTimer);
    connect(&poll_, &QTimer::timeout, this, &WinSerialControl::poll);
}

WinSerialControl::~WinSerialControl()
{
    close();
}

bool WinSerialControl::setPortNumber(int portNumber)
{
    if (isOpen() || portNumber < 1)
        return false;
    portNumber_ = portNumber;
    return true;
}

bool WinSerialControl::setDevicePath(const QString& path)
{
    if (isOpen())
        return false;
    devicePath_ = path;
    return true;
}

bool WinSerialControl::setSettings(const wire::LineSettings& settings)
{
    if (!settings.isValid())
        return false;
    settings_ = settings;
    return true;
}

bool WinSerialControl::setInputLength(int length)
{
    if (length < 0)
        return false;
    inputLength_ = length;
    return true;
}

bool WinSerialControl::setReceiveThreshold(int threshold)
{
    // Every poll that finds bytes notifies, which is what a threshold of 1 asks for.
    return threshold >= 0;
}

bool WinSerialControl::isOpen() const
{
    return handle_ != INVALID_HANDLE_VALUE;
}

bool WinSerialControl::open()
{
    if (isOpen() || (portNumber_ < 1 && devicePath_.isEmpty()))
        return false;
    const QString name =
        win32DeviceName(devicePath_.isEmpty() ? portDevicePath(portNumber_) : devicePath_);
    // No sharing: a port another program holds fails here with ERROR_ACCESS_DENIED, a missing
    // one with ERROR_FILE_NOT_FOUND; the panel shows both the same way. Wine opens a missing
    // port's device object instead, whose GetCommState below fails.
    HANDLE handle = ::CreateFileW(reinterpret_cast<LPCWSTR>(name.utf16()),
                                  GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = ::GetCommState(handle, &dcb) != 0;
    if (ok) {
        dcb.BaudRate = DWORD(settings_.baud);
        dcb.ByteSize = BYTE(settings_.dataBits);
        dcb.Parity = toWinParity(settings_.parity);
        dcb.StopBits = settings_.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = settings_.parity != 'N';
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        ok = ::SetCommState(handle, &dcb) != 0;
    }
    if (ok) {
        // A read returns at once with whatever is waiting, nothing included.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
        ok = ::SetCommTimeouts(handle, &timeouts) != 0;
    }
    if (ok) {
        ::SetupComm(handle, kQueueSize, kQueueSize); // a hint the driver may ignore
        // Bytes that reached the port before the open are stale.
        ok = ::PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR) != 0;
    }
    if (!ok) {
        ::CloseHandle(handle);
        return false;
    }
    handle_ = handle;
    input_.clear();
    poll_.start();
    return true;
}

bool WinSerialControl::close()
{
    if (!isOpen())
        return true;
    poll_.stop();
    input_.clear();
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
}

bool WinSerialControl::write(const QByteArray& bytes)
{
    if (!isOpen())
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(handle_, bytes.constData() + done, DWORD(bytes.size() - done), &written,
                         nullptr) ||
            written == 0)
            return false;
        done += qsizetype(written);
    }
    return true;
}

QByteArray WinSerialControl::readAll()
{
    if (!isOpen())
        return {};
    // What arrived since the last poll counts too: the settle wait takes every byte there is.
    if (!drain()) {
        const QByteArray last = input_;
        loseDevice();
        return last;
    }
    if (inputLength_ == 0 || inputLength_ >= input_.size())
        return std::exchange(input_, {});
    const QByteArray head = input_.left(inputLength_);
    input_.remove(0, inputLength_);
    return head;
}

bool WinSerialControl::drain()
{
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        // A pulled adapter fails here; line errors (framing, overrun) are only cleared.
        if (!::ClearCommError(handle_, &errors, &status))
            return false;
        std::array<char, kQueueSize> chunk{};
        DWORD got = 0;
        // Read even when the queue looks empty: a hung-up line shows only as a failing read.
        if (!::ReadFile(handle_, chunk.data(), DWORD(chunk.size()), &got, nullptr))
            return false;
        if (got == 0)
            return true;
        input_.append(chunk.data(), qsizetype(got));
        if (got < chunk.size())
            return true;
    }
}

void WinSerialControl::poll()
{
    const qsizetype before = input_.size();
    if (!drain()) {
        loseDevice();
        return;
    }
    if (input_.size() > before)
        emit received();
}

void WinSerialControl::loseDevice()
{
    close();
    emit deviceLost();
}

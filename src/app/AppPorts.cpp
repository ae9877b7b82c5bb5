#include "app/AppPorts.h"

#include "core/Files.h"
#include "spreadsheet/Workbook.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace vellumcast::app {

ThrottledPump::ThrottledPump(int intervalMs)
    : m_intervalMs(intervalMs)
{
    m_sinceLastTurn.start();
}

void ThrottledPump::Run()
{
    if (++m_calls % kCallsPerClockRead != 0)
        return;
    if (m_sinceLastTurn.elapsed() >= m_intervalMs)
        RunNow();
}

void ThrottledPump::RunNow()
{
    if (m_beforeTurn)
        m_beforeTurn();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_sinceLastTurn.restart();
}

void BarProgress::Set(double percent)
{
    if (!m_bar)
        return;
    if (!std::isfinite(percent))
        percent = 0;
    const int value = static_cast<int>(std::clamp(percent, 0.0, 100.0));
    if (m_bar->value() != value)
        m_bar->setValue(value);
}

QString QtSettingsStore::FilePath(std::string_view application)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + "/.config";
    return folder + "/" + QString::fromUtf8(application.data(), static_cast<qsizetype>(application.size())) + ".ini";
}

namespace {

QString FromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Why the settings file at path is passed over, or "" when it is read and written. The
// program keeps a few short values; a settings file far larger than that is not its own,
// and parsing it again for every value would stall the windows for seconds. A FIFO or a
// device would block the window before it opens.
std::string PassedOverFile(const QString& path)
{
    constexpr qint64 kMaxSettingsBytes = qint64 { 1 } << 20;
    struct stat info { };
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &info) != 0)
        return {}; // none yet: the first save makes it
    if (!S_ISREG(info.st_mode))
        return "is not a regular file";
    if (::access(name.constData(), R_OK) != 0)
        return "cannot be read";
    if (info.st_size > kMaxSettingsBytes)
        return "is larger than a megabyte";
    return {};
}

} // namespace

std::string QtSettingsStore::Get(
    std::string_view application, std::string_view section, std::string_view key, std::string_view defaultValue)
{
    const QString path = FilePath(application);
    if (!PassedOverFile(path).empty())
        return std::string(defaultValue);
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(FromView(section));
    const QVariant value = settings.value(FromView(key));
    if (!value.isValid())
        return std::string(defaultValue);
    // A hand-edited value with unquoted commas comes back as a list; it is one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(',').toStdString();
    return value.toString().toStdString();
}

void QtSettingsStore::Save(
    std::string_view application, std::string_view section, std::string_view key, std::string_view value)
{
    const QString path = FilePath(application);
    if (!PassedOverFile(path).empty())
        return;
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(FromView(section));
    settings.setValue(FromView(key), FromView(value));
    settings.endGroup();
    settings.sync(); // takes effect at once; a write error leaves the value unkept
}

std::string QtSettingsStore::Unreadable(std::string_view application, std::string_view section, std::string_view key)
{
    const QString path = FilePath(application);
    if (!PassedOverFile(path).empty())
        return {};
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(FromView(section));
    if (!settings.contains(FromView(key)))
        return {};
    const QVariant value = settings.value(FromView(key));
    if (!value.isValid())
        return "holds @Invalid(), which is no text";
    QString text;
    if (value.typeId() == QMetaType::QString)
        text = value.toString();
    else if (value.typeId() == QMetaType::QStringList)
        text = value.toStringList().join(',');
    else
        return std::string("holds a value of the type ") + value.typeName() + ", which is no text";
    // QSettings decodes bytes that are not UTF-8 as U+FFFD. The character may also have
    // been typed, which only a file of valid UTF-8 can tell apart.
    if (text.contains(QChar::ReplacementCharacter)) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString decoded = decoder.decode(file.readAll());
            if (decoder.hasError())
                return "holds bytes that are not UTF-8 text";
        }
    }
    return {};
}

std::string QtSettingsStore::Origin(std::string_view application)
{
    return FilePath(application).toStdString();
}

std::string QtSettingsStore::PassedOver(std::string_view application)
{
    return PassedOverFile(FilePath(application));
}

namespace {
bool g_busy = false;
}

void BusyPointer::Set(bool busy)
{
    if (busy == g_busy)
        return;
    g_busy = busy;
    if (busy)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QApplication::restoreOverrideCursor();
}

bool BusyPointer::Shown()
{
    return g_busy;
}

AppContext DefaultContext(options::SettingsStore& store)
{
    AppContext context;
    context.store = &store;
    context.programFolder = core::ProgramFolder();
    context.createEngine = [] { spreadsheet::Application engine; };
    context.endProgram = [] {
        // Closing a window ends the program at once, also in the middle of a command,
        // which would otherwise run on inside its event turns. Settings are already
        // written (every Save syncs), so nothing is lost.
        if (RunningCommand::Any()) {
            std::fflush(nullptr);
            std::_Exit(0);
        }
        QCoreApplication::quit();
    };
    return context;
}

} // namespace vellumcast::app

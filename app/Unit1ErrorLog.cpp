// TForm1: the page "Chybová hlášení", a viewer of the error log. It reads and
// empties the same file that AppendErrorLog writes, in the start directory.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <QTabWidget>
#include <cerrno>
#include <cstring>

#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "app/Texts.h"
#include "link/ErrorLog.h"

namespace {

// Why the log could not be used: a symbolic link or anything but a plain file
// in its place is named as such, any other failure by the system's reason.
QString Unusable(const std::string& path, int error) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (S_ISLNK(info.st_mode)) return QStringLiteral("The file is a symbolic link; it is not followed.");
    if (!S_ISREG(info.st_mode)) return QStringLiteral("The file is not a regular file.");
  }
  return QString::fromLocal8Bit(std::strerror(error));
}

// The log opened for the viewer's buttons: never through a symbolic link,
// never blocking on a FIFO, and only a regular file. -1 with `why` set when
// it cannot be used.
int OpenLog(const std::string& path, int flags, QString& why) {
  const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return fd;
  const int error = errno;
  if (fd >= 0) ::close(fd);
  why = Unusable(path, error);
  return -1;
}

// The whole file; false with errno set when a read fails.
bool ReadAll(int fd, QByteArray& bytes) {
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno != EINTR) return false;
    if (n > 0) bytes.append(buffer, n);
  }
  return true;
}

}  // namespace

void TForm1::Button2Click() {
  Memo2->clear();
  const std::string path = ErrorLogPath();
  QString why;
  QByteArray bytes;
  const int fd = OpenLog(path, O_RDONLY, why);
  if (fd >= 0 && !ReadAll(fd, bytes)) why = QString::fromLocal8Bit(std::strerror(errno));
  if (fd >= 0) ::close(fd);
  if (!why.isEmpty()) {
    ShowErrorMessage(this, QStringLiteral("Cannot open file \"%1\". %2").arg(QString::fromStdString(path), why));
    return;
  }
  QString text = ShownText(std::string_view(bytes.constData(), bytes.size()));
  Memo2->setPlainText(text.replace(QLatin1String("\r\n"), QLatin1String("\n")));
  const int page = PageControl1->indexOf(TabSheet5);
  PageControl1->setTabVisible(page, true);
  PageControl1->setCurrentIndex(page);
}

void TForm1::BitBtn2Click() {
  PageControl1->setCurrentWidget(TabSheet3);
  PageControl1->setTabVisible(PageControl1->indexOf(TabSheet5), false);
}

void TForm1::BitBtn5Click() {
  Memo2->clear();
  const std::string path = ErrorLogPath();
  QString why;
  const int fd = OpenLog(path, O_WRONLY | O_CREAT, why);
  if (fd >= 0 && ::ftruncate(fd, 0) != 0) why = QString::fromLocal8Bit(std::strerror(errno));
  if (fd >= 0) ::close(fd);
  if (!why.isEmpty()) {
    ShowErrorMessage(this, QStringLiteral("Cannot create file \"%1\". %2").arg(QString::fromStdString(path), why));
  }
}

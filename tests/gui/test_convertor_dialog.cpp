// The converter's windows driven headless: OPEN and CONVERT run for real
// through the dialog's file-chooser and message-box seams.
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <vector>

#include "about_dlg.h"
#include "app_shell.h"
#include "dialog_texts.h"
#include "dialog_units.h"
#include "qrx_convertor_dlg.h"
#include "qrxc.h"

using namespace qrxc::ui;

namespace {

constexpr int TYPE_ADPCM4 = 5;  // 240 samples into 120 bytes
constexpr int ADPCM4_FRAME_BYTES = 120;
constexpr int PCM_FRAME = 240;

QString u8(const char *s) { return QString::fromUtf8(s); }

// A small ADPCM QRX stream of `frames` frames of a tone, encoded by the
// library itself; empty if the encoder refuses.
QByteArray make_qrx(int frames) {
    Qrxc_context *ctx = Qrxc_create();
    if (!ctx) return {};
    Qrxc_version_ctx(ctx, 1);
    G_header info{};
    unsigned char hdr[16]{};
    const int header_len = Qrxc_initial_ctx(ctx, QRXC_ENCODE, 8000, TYPE_ADPCM4, &info, hdr);
    QByteArray out;
    if (header_len == 16) {
        out.append(reinterpret_cast<const char *>(hdr), header_len);
        short pcm[PCM_FRAME];
        unsigned char coded[QRXC_MAX_FRAME_BYTES];
        for (int f = 0; f < frames; ++f) {
            for (int i = 0; i < PCM_FRAME; ++i)
                pcm[i] = static_cast<short>(6000.0 * std::sin(0.07 * (f * PCM_FRAME + i)));
            Qrxc_frame_ctx(ctx, pcm, coded);
            out.append(reinterpret_cast<const char *>(coded), ADPCM4_FRAME_BYTES);
        }
    }
    Qrxc_destroy(ctx);
    return out;
}

bool write_file(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct Shown_message {
    QString caption;
    QString text;
};

// One dialog on a fresh codec context, its message boxes recorded instead
// of shown.
struct Harness {
    Qrxc_context *ctx = Qrxc_create();
    CQRXConvertorDlg dlg{ctx};
    std::vector<Shown_message> messages;
    std::vector<int> positions;
    std::vector<QString> questions;
    bool answer = true;  // to "Replace ...?"
    // Button states seen when the first position arrived, mid-job.
    bool open_enabled_mid_job = true;
    bool convert_enabled_mid_job = true;

    Harness() {
        dlg.set_message_box([this](QWidget *, const QString &caption, const QString &text) {
            messages.push_back({caption, text});
        });
        dlg.set_question_box([this](QWidget *, const QString &, const QString &text) {
            questions.push_back(text);
            return answer;
        });
        QObject::connect(dlg.progress_bar(), &QProgressBar::valueChanged, &dlg, [this](int v) {
            if (positions.empty()) {
                open_enabled_mid_job = dlg.open_button()->isEnabled();
                convert_enabled_mid_job = dlg.convert_button()->isEnabled();
            }
            positions.push_back(v);
        });
    }
    ~Harness() { Qrxc_destroy(ctx); }

    void choose(const QString &path) {
        dlg.set_file_chooser([path](QWidget *) { return path; });
        dlg.OnOpen();
    }

    // Presses CONVERT and waits for the job to end.
    bool convert() {
        QSignalSpy finished(&dlg, &CQRXConvertorDlg::job_finished);
        QTest::mouseClick(dlg.convert_button(), Qt::LeftButton);
        return finished.count() > 0 || finished.wait(20000);
    }
};

// Whether this process still holds a file in `dir` open.
bool holds_open_file_in(const QString &dir) {
    const QString canonical = QFileInfo(dir).canonicalFilePath() + u8("/");
    const QDir fds(u8("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget().startsWith(canonical)) return true;
    return false;
}

QStringList entries(const QString &dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

}  // namespace

class Test_convertor_dialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        setup_application();
        QDir().mkpath(QStringLiteral(QRXCONVERTOR_SCREENSHOTS));
    }

    void application_metadata() {
        QCOMPARE(QCoreApplication::applicationName(), u8("QRXConvertor"));
        QCOMPARE(QCoreApplication::applicationVersion(), u8("1.0.0.1"));
        QVERIFY(!QGuiApplication::windowIcon().isNull());
        const QList<QSize> sizes = program_icon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)));
        QVERIFY(sizes.contains(QSize(32, 32)));
    }

    void dialog_units_scale_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("num");
        QTest::addColumn<int>("den");
        QTest::addColumn<int>("expected");
        QTest::newRow("exact") << 8 << 6 << 4 << 12;
        QTest::newRow("rounds down below half") << 13 << 1 << 4 << 3;
        QTest::newRow("half rounds up") << 14 << 1 << 4 << 4;
        QTest::newRow("dialog width") << 271 << 6 << 4 << 407;
        QTest::newRow("negative half rounds away") << -14 << 1 << 4 << -4;
        QTest::newRow("zero") << 0 << 7 << 8 << 0;
        QTest::newRow("no overflow") << 1 << 0x7fffffff << 0x7fffffff << 1;
    }
    void dialog_units_scale() {
        QFETCH(int, value);
        QFETCH(int, num);
        QFETCH(int, den);
        QFETCH(int, expected);
        QCOMPARE(Dialog_units::scale(value, num, den), expected);
    }

    void dialog_font_renders_hangul() {
        const QString family = QFontInfo(dialog_font()).family();
        QVERIFY2(QFontDatabase::writingSystems(family).contains(QFontDatabase::Korean), qPrintable(family));
    }

    // Texts, defaults and places of every control, the places in dialog
    // units of the dialog's own font.
    void controls_follow_template() {
        Harness h;
        CQRXConvertorDlg &d = h.dlg;
        const Dialog_units du = Dialog_units::for_font(d.font());
        QVERIFY(du.base_x() > 0 && du.base_y() > 0);
        QCOMPARE(d.windowTitle(), u8("QRXConvertor"));
        QCOMPARE(d.size(), du.size(271, 87));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        const struct {
            QWidget *w;
            QString text;
            QRect r;
        } controls[] = {
            {d.close_button(), u8("CLOSE"), du.rect(214, 66, 50, 14)},
            {d.open_button(), u8("OPEN"), du.rect(11, 7, 50, 14)},
            {d.convert_button(), u8("CONVERT"), du.rect(71, 7, 50, 14)},
            {d.progress_bar(), QString(), du.rect(7, 47, 257, 14)},
            {d.path_display(), u8("-"), du.rect(44, 28, 220, 10)},
            {d.path_label(), u8("PATH"), du.rect(13, 28, 25, 9)},
        };
        for (const auto &c : controls) {
            QCOMPARE(c.w->geometry(), c.r);
            QVERIFY(c.w->isEnabled());
            if (auto *b = qobject_cast<QPushButton *>(c.w)) {
                QCOMPARE(b->text(), c.text);
                QCOMPARE(b->isDefault(), b == d.close_button());
            } else if (auto *l = qobject_cast<QLabel *>(c.w)) {
                QCOMPARE(l->text(), c.text);
            }
        }
        QCOMPARE(d.progress_bar()->minimum(), 0);
        QCOMPARE(d.progress_bar()->maximum(), 100);
        QCOMPARE(d.progress_bar()->value(), 0);
        QVERIFY(d.source_path().isEmpty());
        QVERIFY(d.output_path().isEmpty());
        // The template's first control, CLOSE, is first in the tab order.
        QCOMPARE(d.close_button()->nextInFocusChain(), static_cast<QWidget *>(d.open_button()));
    }

    void closing_keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << int(QDialog::Rejected);
        QTest::newRow("Enter presses CLOSE") << int(Qt::Key_Return) << int(QDialog::Accepted);
    }
    void closing_keys() {
        QFETCH(int, key);
        QFETCH(int, result);
        Harness h;
        h.dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.dlg));
        QTest::keyClick(&h.dlg, static_cast<Qt::Key>(key));
        QVERIFY(!h.dlg.isVisible());
        QCOMPARE(h.dlg.result(), result);
    }

    void open_sets_paths_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("output");
        QTest::newRow("upper-case extension") << u8("/rec/msg01.QRX") << u8("/rec/msg01.wav");
        QTest::newRow("lower-case extension") << u8("/rec/msg01.qrx") << u8("/rec/msg01.wav");
        QTest::newRow("name ending in extension letters") << u8("/rec/AX.QRX") << u8("/rec/AX.wav");
        QTest::newRow("Hangul names") << u8("/녹음/메시지 01.QRX") << u8("/녹음/메시지 01.wav");
        QTest::newRow("no extension") << u8("/rec/msg01") << u8("/rec/msg01.wav");
    }
    void open_sets_paths() {
        QFETCH(QString, chosen);
        QFETCH(QString, output);
        Harness h;
        h.choose(chosen);
        QCOMPARE(h.dlg.source_path(), chosen);
        QCOMPARE(h.dlg.output_path(), output);
        QCOMPARE(h.dlg.path_display()->text(), chosen);
        QCOMPARE(h.dlg.path_display()->toolTip(), chosen);
    }

    // A file on the command line is chosen as OPEN would choose it.
    void argument_opens_file_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::newRow("none") << QStringList{u8("QRXConvertor")} << QString() << QString();
        QTest::newRow("absolute") << QStringList{u8("QRXConvertor"), u8("/rec/msg01.QRX")} << u8("/rec/msg01.QRX")
                                  << u8("/rec/msg01.wav");
        QTest::newRow("relative, made absolute") << QStringList{u8("QRXConvertor"), u8("rec/msg01.qrx")}
                                                 << QDir::current().absoluteFilePath(u8("rec/msg01.qrx"))
                                                 << QDir::current().absoluteFilePath(u8("rec/msg01.wav"));
        QTest::newRow("only the first counts")
            << QStringList{u8("QRXConvertor"), u8("/a.QRX"), u8("/b.QRX")} << u8("/a.QRX") << u8("/a.wav");
    }
    void argument_opens_file() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, source);
        QFETCH(QString, output);
        Harness h;
        open_from_arguments(h.dlg, arguments);
        QCOMPARE(h.dlg.source_path(), source);
        QCOMPARE(h.dlg.output_path(), output);
        QCOMPARE(h.dlg.path_display()->text(), source.isEmpty() ? u8("-") : source);
    }

    // A path wider than the PATH line keeps its start and its file name,
    // loses its middle, and shows whole in the tooltip; CONVERT still gets
    // the whole path.
    void long_path_is_elided_in_the_middle() {
        Harness h;
        const QString path = u8("/home/user") + u8("/녹음 보관함").repeated(30) + u8("/msg01.QRX");
        h.choose(path);
        const QLabel *shown = h.dlg.path_display();
        QCOMPARE(h.dlg.source_path(), path);
        QCOMPARE(shown->toolTip(), path);
        QVERIFY(shown->text() != path);
        QVERIFY(shown->text().startsWith(u8("/home/user/")));
        QVERIFY(shown->text().endsWith(u8("/msg01.QRX")));
        QVERIFY(shown->text().contains(QChar(0x2026)));
        QVERIFY(QFontMetrics(shown->font()).horizontalAdvance(shown->text()) <= shown->contentsRect().width());
    }

    void open_cancelled_changes_nothing() {
        Harness h;
        h.choose(u8("/rec/first.QRX"));
        h.choose(QString());
        QCOMPARE(h.dlg.source_path(), u8("/rec/first.QRX"));
        QCOMPARE(h.dlg.output_path(), u8("/rec/first.wav"));
        QCOMPARE(h.dlg.path_display()->text(), u8("/rec/first.QRX"));
    }

    void open_dialog_lists_qrx_files_of_either_case() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const char *name : {"a.QRX", "b.qrx", "c.wav", "d.QRX.txt"})
            QVERIFY(write_file(dir.filePath(u8(name)), "x"));
        const std::unique_ptr<QFileDialog> fd(CQRXConvertorDlg::create_open_dialog(nullptr));
        QCOMPARE(fd->nameFilters(), QStringList{u8("QRX File(*.QRX)")});
        QCOMPARE(fd->defaultSuffix(), u8("QRX"));
        QCOMPARE(fd->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(fd->acceptMode(), QFileDialog::AcceptOpen);
        fd->setDirectory(dir.path());
        fd->show();
        auto *view = fd->findChild<QListView *>(QStringLiteral("listView"));
        QVERIFY(view);
        QAbstractItemModel *model = view->model();
        const auto listed = [&] {
            QStringList names;
            for (int r = 0; r < model->rowCount(view->rootIndex()); ++r)
                names << model->index(r, 0, view->rootIndex()).data().toString();
            names.sort();
            return names;
        };
        QTRY_COMPARE(listed(), (QStringList{u8("a.QRX"), u8("b.qrx")}));
    }

    void convert_before_open_reports_open_failure() {
        Harness h;
        QVERIFY(h.convert());
        QCOMPARE(h.messages.size(), size_t(1));
        QCOMPARE(h.messages[0].caption, u8("QRXConvertor"));
        QCOMPARE(h.messages[0].text, u8("File Open false"));
        QCOMPARE(h.dlg.last_result(), qrxc::Job_result::open_failed);
        QVERIFY(h.dlg.open_button()->isEnabled());
        QVERIFY(h.dlg.convert_button()->isEnabled());
    }

    // Without the seam the job's message is a real modal box, shown while
    // the worker waits for it.
    void message_box_is_modal_with_ok_only() {
        Qrxc_context *ctx = Qrxc_create();
        CQRXConvertorDlg dlg(ctx);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QString caption, text;
        QMessageBox::StandardButtons buttons;
        bool worker_waiting = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &dlg, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) return;
            poll.stop();
            caption = box->windowTitle();
            text = box->text();
            buttons = box->standardButtons();
            worker_waiting = dlg.job_running();
            box->button(QMessageBox::Ok)->click();
        });
        poll.start(10);
        QSignalSpy finished(&dlg, &CQRXConvertorDlg::job_finished);
        dlg.OnConvert();
        QVERIFY(finished.wait(20000));
        QCOMPARE(caption, u8("QRXConvertor"));
        QCOMPARE(text, u8("File Open false"));
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(worker_waiting);
        Qrxc_destroy(ctx);
    }

    void convert_ten_frames() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray qrx = make_qrx(10);
        QVERIFY2(!qrx.isEmpty(), "the library could not encode the test stream");
        const QString src = dir.filePath(u8("msg01.QRX"));
        QVERIFY(write_file(src, qrx));

        Harness h;
        h.choose(src);
        QVERIFY(h.convert());
        QCOMPARE(h.positions, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90}));
        QCOMPARE(h.dlg.progress_bar()->value(), 90);
        QCOMPARE(h.messages.size(), size_t(1));
        QCOMPARE(h.messages[0].caption, u8("QRXConvertor"));
        QCOMPARE(h.messages[0].text, dir.filePath(u8("msg01.wav")) + u8(" Create Success"));
        QCOMPARE(h.dlg.last_result(), qrxc::Job_result::success);
        QVERIFY(!h.open_enabled_mid_job);
        QVERIFY(!h.convert_enabled_mid_job);
        QVERIFY(h.dlg.open_button()->isEnabled());
        QVERIFY(h.dlg.convert_button()->isEnabled());
        QCOMPARE(QFileInfo(dir.filePath(u8("msg01.wav"))).size(), 46 + 10 * PCM_FRAME * 2);
        QCOMPARE(entries(dir.path()), (QStringList{u8("msg01.QRX"), u8("msg01.wav")}));
        QVERIFY(!holds_open_file_in(dir.path()));

        // A second job on the same dialog starts from where the bar stands.
        h.positions.clear();
        h.messages.clear();
        QVERIFY(h.convert());
        QCOMPARE(h.positions.size(), size_t(9));
        QCOMPARE(h.messages.size(), size_t(1));
    }

    void existing_output_is_replaced_only_on_yes_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes replaces") << true;
        QTest::newRow("no keeps the file") << false;
    }
    void existing_output_is_replaced_only_on_yes() {
        QFETCH(bool, yes);
        QTemporaryDir dir;
        const QString src = dir.filePath(u8("msg01.QRX"));
        const QString out = dir.filePath(u8("msg01.wav"));
        QVERIFY(write_file(src, make_qrx(3)));
        QVERIFY(write_file(out, QByteArray("mine")));
        Harness h;
        h.answer = yes;
        h.choose(src);
        QSignalSpy finished(&h.dlg, &CQRXConvertorDlg::job_finished);
        QTest::mouseClick(h.dlg.convert_button(), Qt::LeftButton);
        if (yes) QVERIFY(finished.count() > 0 || finished.wait(20000));
        QCOMPARE(h.questions, (std::vector<QString>{u8("Replace ") + out + u8("?")}));
        QCOMPARE(QFileInfo(out).size(), yes ? 46 + 3 * PCM_FRAME * 2 : 4);
        // No converts nothing and claims nothing.
        QCOMPARE(h.messages.size(), size_t(yes ? 1 : 0));
        QVERIFY(!h.dlg.job_running());
        QCOMPARE(entries(dir.path()), (QStringList{u8("msg01.QRX"), u8("msg01.wav")}));
    }

    void bad_header_reports_unconvertible() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString src = dir.filePath(u8("bad.QRX"));
        QVERIFY(write_file(src, QByteArray("NOTAQRXFILEATALL-and-some-more-bytes")));
        Harness h;
        h.choose(src);
        QVERIFY(h.convert());
        QCOMPARE(h.messages.size(), size_t(1));
        QCOMPARE(h.messages[0].caption, u8("QRXConvertor"));
        QCOMPARE(h.messages[0].text, u8("This type of file can not be converted."));
        QVERIFY(h.positions.empty());
        QCOMPARE(entries(dir.path()), QStringList{u8("bad.QRX")});
    }

    void unwritable_output_is_reported() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString src = dir.filePath(u8("msg01.QRX"));
        QVERIFY(write_file(src, make_qrx(3)));
        // A directory where the WAV should go: it cannot be replaced.
        const QString out = dir.filePath(u8("msg01.wav"));
        QVERIFY(QDir().mkdir(out));
        Harness h;
        h.choose(src);
        QVERIFY(h.convert());
        QCOMPARE(h.messages.size(), size_t(1));
        QCOMPARE(h.messages[0].caption, u8("QRXConvertor"));
        QCOMPARE(h.messages[0].text, out + u8(" Create Failed"));
        QVERIFY(h.dlg.last_result() != qrxc::Job_result::success);
        QVERIFY(QFileInfo(out).isDir());
        QCOMPARE(entries(dir.path()), (QStringList{u8("msg01.QRX"), u8("msg01.wav")}));
        QVERIFY(h.dlg.open_button()->isEnabled());
        QVERIFY(h.dlg.convert_button()->isEnabled());
    }

    void closing_during_job_stops_it_cleanly() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString src = dir.filePath(u8("long.QRX"));
        QVERIFY(write_file(src, make_qrx(300)));
        Harness h;
        h.choose(src);
        h.dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.dlg));
        // Close as a user would, from the event loop, once the job is under way.
        QObject::connect(h.dlg.progress_bar(), &QProgressBar::valueChanged, &h.dlg, [&h](int) {
            if (h.positions.size() == 1)
                QMetaObject::invokeMethod(
                    &h.dlg, [&h] { h.dlg.close(); }, Qt::QueuedConnection);
        });
        QVERIFY(h.convert());
        QTRY_VERIFY(!h.dlg.isVisible());
        QCOMPARE(h.dlg.last_result(), qrxc::Job_result::cancelled);
        QVERIFY(!h.dlg.job_running());
        QVERIFY2(h.positions.size() <= 2, "the job ran on after the window closed");
        QVERIFY(h.messages.empty());
        // No WAV, finished or partial, and no temporary file is left behind.
        QCOMPARE(entries(dir.path()), QStringList{u8("long.QRX")});
        QVERIFY(!holds_open_file_in(dir.path()));
    }

    // A close request that arrives while the job's message box is up (the
    // worker waiting on it) must not wait for the worker: that would never
    // end. The window stays and the job finishes.
    void close_while_job_message_shown_is_refused() {
        Harness h;
        h.dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.dlg));
        h.dlg.set_message_box([&h](QWidget *, const QString &caption, const QString &text) {
            h.messages.push_back({caption, text});
            h.dlg.close();
        });
        QVERIFY(h.convert());
        QVERIFY(h.dlg.isVisible());
        QCOMPARE(h.messages.size(), size_t(1));
        QCOMPARE(h.dlg.last_result(), qrxc::Job_result::open_failed);
        h.dlg.close();
        QVERIFY(!h.dlg.isVisible());
    }

    void destroying_during_job_stops_it() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString src = dir.filePath(u8("long.QRX"));
        QVERIFY(write_file(src, make_qrx(300)));
        Qrxc_context *ctx = Qrxc_create();
        {
            CQRXConvertorDlg dlg(ctx);
            dlg.set_message_box([](QWidget *, const QString &, const QString &) {});
            dlg.set_source(src);
            dlg.OnConvert();
            QVERIFY(dlg.job_running());
            QVERIFY(!dlg.convert_button()->isEnabled());
        }
        Qrxc_destroy(ctx);
        QCOMPARE(entries(dir.path()), QStringList{u8("long.QRX")});
        QVERIFY(!holds_open_file_in(dir.path()));
    }

    void drop_data() {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("QRX file") << QList<QUrl>{QUrl::fromLocalFile(u8("/rec/a.QRX"))} << true;
        QTest::newRow("lower-case qrx") << QList<QUrl>{QUrl::fromLocalFile(u8("/rec/a.qrx"))} << true;
        QTest::newRow("WAV file") << QList<QUrl>{QUrl::fromLocalFile(u8("/rec/a.wav"))} << false;
        QTest::newRow("two files") << QList<QUrl>{QUrl::fromLocalFile(u8("/rec/a.QRX")),
                                                  QUrl::fromLocalFile(u8("/rec/b.QRX"))}
                                   << false;
        QTest::newRow("remote file") << QList<QUrl>{QUrl(u8("https://example.org/a.QRX"))} << false;
        QTest::newRow("no files") << QList<QUrl>{} << false;
    }
    void drop() {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, accepted);
        Harness h;
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&h.dlg, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&h.dlg, &drop);
        if (accepted) {
            const QString path = urls.constFirst().toLocalFile();
            QCOMPARE(h.dlg.source_path(), path);
            QCOMPARE(h.dlg.path_display()->text(), path);
            QCOMPARE(h.dlg.output_path(), u8("/rec/a.wav"));
        } else {
            QVERIFY(h.dlg.source_path().isEmpty());
            QCOMPARE(h.dlg.path_display()->text(), u8("-"));
        }
    }

    void about_box() {
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), u8("QRXConvertor 정보"));
        QCOMPARE(about.version_label()->text(), u8("QRXConvertor 버전 1.0"));
        QCOMPARE(about.version_label()->textFormat(), Qt::PlainText);
        QCOMPARE(about.ok_button()->text(), u8("확인"));
        QVERIFY(about.ok_button()->isDefault());
        QCOMPARE(about.icon_label()->pixmap().size(), QSize(32, 32));
        const Dialog_units du = Dialog_units::for_font(about.font());
        QCOMPARE(about.size(), du.size(235, 55));
        QCOMPARE(about.version_label()->geometry(), du.rect(40, 10, 119, 8));
        QCOMPARE(about.library_label()->text(), u8("qrxc ") + QString::fromUtf8(Qrxc_version_string()));
        QCOMPARE(about.ok_button()->geometry(), du.rect(178, 7, 50, 14));

        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, Qt::Key_Return);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    void context_menu_opens_about_by_mnemonic() {
        Harness h;
        h.dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.dlg));
        QStringList seen;
        QString about_caption;
        QTimer::singleShot(0, &h.dlg, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu) return;
            for (const QAction *a : menu->actions()) seen << (a->isSeparator() ? u8("---") : a->text());
            QTimer::singleShot(0, &h.dlg, [&] {
                if (QWidget *modal = QApplication::activeModalWidget()) {
                    if (qobject_cast<CAboutDlg *>(modal)) about_caption = modal->windowTitle();
                    QTest::keyClick(modal, Qt::Key_Escape);
                }
            });
            QTest::keyClick(menu, Qt::Key_A);
        });
        const QPoint at(30, 30);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, h.dlg.mapToGlobal(at));
        QApplication::sendEvent(&h.dlg, &event);
        QCOMPARE(seen, (QStringList{u8("---"), u8("QRXConvertor 정보(&A)...")}));
        QCOMPARE(about_caption, u8("QRXConvertor 정보"));
        QVERIFY(h.dlg.isVisible());
    }

    // Pictures of both windows for a person to check the layout and the
    // Hangul; the paths are printed.
    void screenshots() {
        const QString dir = QStringLiteral(QRXCONVERTOR_SCREENSHOTS);
        Harness h;
        const auto save = [&dir](QWidget &w, const char *name) {
            const QString path = dir + u8("/") + u8(name);
            const QPixmap shot = w.grab();
            QVERIFY(!shot.isNull());
            QVERIFY(shot.save(path));
            qInfo("screenshot: %s", qPrintable(path));
        };
        save(h.dlg, "dialog.png");
        h.dlg.set_source(u8("/home/user/녹음/msg01.QRX"));
        h.dlg.progress_bar()->setValue(40);
        save(h.dlg, "dialog_converting.png");
        CAboutDlg about;
        save(about, "about.png");
        const std::unique_ptr<QMenu> menu(h.dlg.create_context_menu());
        menu->adjustSize();
        save(*menu, "context_menu.png");
    }
};

QTEST_MAIN(Test_convertor_dialog)
#include "test_convertor_dialog.moc"

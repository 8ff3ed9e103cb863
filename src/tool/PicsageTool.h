#pragma once

#include "AnalysisMethod.h"
#include "AnalysisResult.h"

#include <QObject>
#include <QStringList>

class PSGSettings;

// The code of a method whose picture does not decode (not a picture, a folder, a truncated
// or empty file, a picture with no pixels): the method fails and the list stops.
constexpr int PictureNotDecoded = -3;

// One analysis run (or one model check run): the picture, the current method, and the
// result record of the current method, stored after each.
class PicsageTool : public QObject
{
    Q_OBJECT
public:
    enum Store { WithStore, WithoutStore };
    // Without the store saveResult keeps nothing: batch runs hand their records elsewhere
    // and never touch the viewer's settings.
    explicit PicsageTool(Store store = WithStore);

    void setPathname(const QString &path) { m_pathname = path; }
    // Selects the method and starts its record afresh: a record describes its own method's
    // run only, never values an earlier method left.
    void setMethod(AnalysisMethod method)
    {
        m_method = method;
        m_result = AnalysisResult();
    }
    AnalysisMethod method() const { return m_method; }
    const AnalysisResult &result() const { return m_result; }

    // Runs the current method on the picture; the method's code, -1 when the module or its
    // model failed, PictureNotDecoded when the picture did not decode.
    int run();
    // Whether the current method's model is usable (see ModelFiles for where it is looked for).
    bool checkModel();
    void saveResult();
    // msg = "hh:mm:ss <method> <text>"
    void setMessage(const QString &text);

    // Gets the method's object from the module and initialises it with the model files.
    bool prepareModule(AnalysisMethod method, void **object);
    // {model path, text path}; sets msg when the method's folder does not exist.
    QStringList modelFiles(AnalysisMethod method);

private:
    int pictureNotDecoded();

    QString m_pathname;
    AnalysisMethod m_method = MethodNone;
    PSGSettings *m_settings = nullptr;
    AnalysisResult m_result;
};

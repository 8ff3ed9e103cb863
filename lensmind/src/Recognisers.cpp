// The lensmind recognisers: honest picture statistics with thresholds from the method's
// parameter file. No network, no learned weights. Codes are listed in README.md.

#include "ModelFile.h"
#include "Statistics.h"
#include "tool/RecognitionObject.h"

#include <algorithm>
#include <cmath>

#define LENSMIND_EXPORT extern "C" __attribute__((visibility("default")))

namespace lensmind {
namespace {

const std::vector<ParameterRule> MeasureRules = {
    {"white_luma", 0, 255}, {"paper_sat", 0, 1}, {"ink_luma", 0, 255}, {"edge_step", 0, 1020}};

std::vector<ParameterRule> withMeasureRules(std::vector<ParameterRule> rules)
{
    rules.insert(rules.begin(), MeasureRules.begin(), MeasureRules.end());
    return rules;
}

Thresholds thresholdsOf(const Parameters &p)
{
    Thresholds t;
    t.whiteLuma = p.at("white_luma");
    t.paperSat = p.at("paper_sat");
    t.inkLuma = p.at("ink_luma");
    t.edgeStep = p.at("edge_step");
    return t;
}

double clamp01(double v)
{
    return std::min(1.0, std::max(0.0, v));
}

// Measures the picture with the accepted parameters. Without them (initialise failed or was
// never called) the object answers code -1 and no statistics.
bool measureWith(bool ready, const Parameters &params, const unsigned char *pixels, int32_t width,
                 int32_t height, int32_t bpp, int32_t *ret, float *confidence, Statistics &out)
{
    if (!ready) {
        *ret = -1;
        *confidence = 0;
        return false;
    }
    out = measure(pixels, width, height, bpp, thresholdsOf(params));
    return true;
}

// pic_category_pc
class CategoryTagger final : public recognition::FormA
{
public:
    enum Code {
        TextDocument = 0,
        ColourPhoto = 1,
        DarkScene = 2,
        Receipt = 3,
        FormOrTable = 4,
        Graphic = 5,
        SlideOrScreen = 7,
        DensePrint = 10,
        BlankPage = 11,
        MonochromePhoto = 12,
        Empty = 14,
    };

    void reserved0() override {}
    void reserved1() override {}

    int32_t initialise(const char *modelPath) override
    {
        static const std::vector<ParameterRule> rules = withMeasureRules({
            {"doc_paper_min", 0, 1},
            {"doc_sat_max", 0, 1},
            {"doc_ink_min", 0, 1},
            {"doc_ink_max", 0, 1},
            {"receipt_ratio", 1, 20},
            {"form_ruled_min", 0, 1},
            {"slide_ratio", 1, 10},
            {"dense_ink", 0, 1},
            {"dark_luma", 0, 255},
            {"mono_sat", 0, 1},
            {"graphic_colourfulness", 0, 500},
            {"graphic_edge_max", 0, 1},
        });
        m_ready = readParameters(modelPath, "pic_category_pc", rules, m_params);
        return m_ready ? 0 : 1;
    }

    int32_t analyse(const unsigned char *pixels, int32_t width, int32_t height, int32_t bpp,
                    int32_t *ret, float *confidence) override
    {
        Statistics s;
        if (!measureWith(m_ready, m_params, pixels, width, height, bpp, ret, confidence, s))
            return 1;
        double conf = 0;
        *ret = classify(s, conf);
        *confidence = float(conf);
        return 0;
    }

    int32_t finish() override { return 0; }

private:
    int classify(const Statistics &s, double &conf) const
    {
        const Parameters &p = m_params;
        if (s.empty()) {
            conf = 0;
            return Empty;
        }
        const bool paperLike =
            s.paperFraction >= p.at("doc_paper_min") && s.meanSat <= p.at("doc_sat_max");
        if (paperLike) {
            // How far inside the paper region the picture lies.
            conf = 0.5 + 0.5 * clamp01((s.paperFraction - p.at("doc_paper_min")) /
                                       std::max(1e-6, 1 - p.at("doc_paper_min")));
            if (s.inkFraction < p.at("doc_ink_min")) return BlankPage;
            if (s.inkFraction <= p.at("doc_ink_max")) {
                if (s.aspect() > 0 && 1 / s.aspect() >= p.at("receipt_ratio")) return Receipt;
                if (s.ruledFraction >= p.at("form_ruled_min")) return FormOrTable;
                if (s.inkFraction >= p.at("dense_ink")) return DensePrint;
                if (s.aspect() >= p.at("slide_ratio")) return SlideOrScreen;
                return TextDocument;
            }
        }
        if (s.meanLuma < p.at("dark_luma")) {
            conf = 0.5 + 0.5 * clamp01(1 - s.meanLuma / std::max(1.0, p.at("dark_luma")));
            return DarkScene;
        }
        if (s.meanSat < p.at("mono_sat")) {
            conf = 0.5 + 0.5 * clamp01(1 - s.meanSat / std::max(1e-6, p.at("mono_sat")));
            return MonochromePhoto;
        }
        if (s.colourfulness >= p.at("graphic_colourfulness") &&
            s.edgeDensity <= p.at("graphic_edge_max")) {
            conf =
                0.5 + 0.5 * clamp01(1 - s.edgeDensity / std::max(1e-6, p.at("graphic_edge_max")));
            return Graphic;
        }
        conf = 0.5 + 0.5 * clamp01(s.colourfulness / 100);
        return ColourPhoto;
    }

    Parameters m_params;
    bool m_ready = false;
};

// plainbackdrop_pc
class PlainBackdrop final : public recognition::FormB
{
public:
    void reserved0() override {}

    int32_t initialise(const char *modelPath, const char *labelPath) override
    {
        static const std::vector<ParameterRule> rules =
            withMeasureRules({{"uniform_std", 0, 255}, {"min_contrast", 0, 255}});
        std::vector<std::string> labels;
        m_ready = readParameters(modelPath, "plainbackdrop_pc", rules, m_params) &&
                  readLabels(labelPath, 2, labels);
        return m_ready ? 0 : 1;
    }

    int32_t analyse(const unsigned char *pixels, int32_t width, int32_t height, int32_t bpp,
                    int32_t *ret, float *confidence) override
    {
        Statistics s;
        if (!measureWith(m_ready, m_params, pixels, width, height, bpp, ret, confidence, s))
            return 1;
        const double limit = std::max(1e-6, m_params.at("uniform_std"));
        if (s.empty()) {
            *ret = 0;
            *confidence = 0;
        } else if (s.borderStd <= limit && s.borderCentreDistance >= m_params.at("min_contrast")) {
            *ret = 1;
            *confidence = float(0.5 + 0.5 * clamp01(1 - s.borderStd / limit));
        } else {
            *ret = 0;
            *confidence = float(0.5 + 0.5 * clamp01(s.borderStd / limit - 1));
        }
        return 0;
    }

    int32_t finish() override { return 0; }

private:
    Parameters m_params;
    bool m_ready = false;
};

// docsorter_pc
class DocSorter final : public recognition::FormB
{
public:
    enum Code { PortraitPage = 0, LandscapePage, Strip, SquareOrCard, InkHeavy, Sparse, Empty };

    void reserved0() override {}

    int32_t initialise(const char *modelPath, const char *labelPath) override
    {
        static const std::vector<ParameterRule> rules = withMeasureRules({
            {"dense_ink", 0, 1},
            {"sparse_ink", 0, 1},
            {"strip_ratio", 1, 20},
            {"landscape_ratio", 1, 10},
            {"square_tolerance", 0, 1},
        });
        std::vector<std::string> labels;
        m_ready = readParameters(modelPath, "docsorter_pc", rules, m_params) &&
                  readLabels(labelPath, 7, labels);
        return m_ready ? 0 : 1;
    }

    int32_t analyse(const unsigned char *pixels, int32_t width, int32_t height, int32_t bpp,
                    int32_t *ret, float *confidence) override
    {
        Statistics s;
        if (!measureWith(m_ready, m_params, pixels, width, height, bpp, ret, confidence, s))
            return 1;
        const Parameters &p = m_params;
        float conf = 0.75f;
        int code;
        if (s.empty()) {
            code = Empty;
            conf = 0;
        } else if (s.inkFraction >= p.at("dense_ink")) {
            code = InkHeavy;
        } else if (s.inkFraction < p.at("sparse_ink")) {
            code = Sparse;
        } else if (1 / s.aspect() >= p.at("strip_ratio") || s.aspect() >= p.at("strip_ratio")) {
            code = Strip;
        } else if (std::fabs(s.aspect() - 1) <= p.at("square_tolerance")) {
            code = SquareOrCard;
        } else if (s.aspect() >= p.at("landscape_ratio")) {
            code = LandscapePage;
        } else {
            code = PortraitPage;
        }
        *ret = code;
        *confidence = conf;
        return 0;
    }

    int32_t finish() override { return 0; }

private:
    Parameters m_params;
    bool m_ready = false;
};

} // namespace
} // namespace lensmind

LENSMIND_EXPORT void *GetCategoryTaggerObj()
{
    return static_cast<recognition::FormA *>(new lensmind::CategoryTagger);
}
LENSMIND_EXPORT void ReleaseCategoryTaggerObj(void *object)
{
    delete static_cast<lensmind::CategoryTagger *>(static_cast<recognition::FormA *>(object));
}
LENSMIND_EXPORT void *GetPlainBackdropObj()
{
    return static_cast<recognition::FormB *>(new lensmind::PlainBackdrop);
}
LENSMIND_EXPORT void ReleasePlainBackdropObj(void *object)
{
    delete static_cast<lensmind::PlainBackdrop *>(static_cast<recognition::FormB *>(object));
}
LENSMIND_EXPORT void *GetDocSorterObj()
{
    return static_cast<recognition::FormB *>(new lensmind::DocSorter);
}
LENSMIND_EXPORT void ReleaseDocSorterObj(void *object)
{
    delete static_cast<lensmind::DocSorter *>(static_cast<recognition::FormB *>(object));
}

// Methods this module does not serve: their factories give nothing.
LENSMIND_EXPORT void *GetCornerSeekObj()
{
    return nullptr;
}
LENSMIND_EXPORT void ReleaseCornerSeekObj(void *) {}
LENSMIND_EXPORT void *GetTiltSenseObj()
{
    return nullptr;
}
LENSMIND_EXPORT void ReleaseTiltSenseObj(void *) {}
LENSMIND_EXPORT void *GetToneFilterObj()
{
    return nullptr;
}
LENSMIND_EXPORT void ReleaseToneFilterObj(void *) {}

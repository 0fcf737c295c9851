// ISO 639 language codes as the muxers want them, from the iso-codes tables (ISO 639-2 with its
// ISO 639-1 and bibliographic forms). Generated once; the codes do not change.
#include "Languages.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace plexavo::core {
namespace {

using Pair = std::pair<std::string_view, std::string_view>;

// ISO 639-1 to ISO 639-2, the bibliographic form where there is one, sorted.
constexpr Pair kTwoLetter[] = {
    {"aa", "aar"}, {"ab", "abk"}, {"ae", "ave"}, {"af", "afr"}, {"ak", "aka"}, {"am", "amh"},
    {"an", "arg"}, {"ar", "ara"}, {"as", "asm"}, {"av", "ava"}, {"ay", "aym"}, {"az", "aze"},
    {"ba", "bak"}, {"be", "bel"}, {"bg", "bul"}, {"bh", "bih"}, {"bi", "bis"}, {"bm", "bam"},
    {"bn", "ben"}, {"bo", "tib"}, {"br", "bre"}, {"bs", "bos"}, {"ca", "cat"}, {"ce", "che"},
    {"ch", "cha"}, {"co", "cos"}, {"cr", "cre"}, {"cs", "cze"}, {"cu", "chu"}, {"cv", "chv"},
    {"cy", "wel"}, {"da", "dan"}, {"de", "ger"}, {"dv", "div"}, {"dz", "dzo"}, {"ee", "ewe"},
    {"el", "gre"}, {"en", "eng"}, {"eo", "epo"}, {"es", "spa"}, {"et", "est"}, {"eu", "baq"},
    {"fa", "per"}, {"ff", "ful"}, {"fi", "fin"}, {"fj", "fij"}, {"fo", "fao"}, {"fr", "fre"},
    {"fy", "fry"}, {"ga", "gle"}, {"gd", "gla"}, {"gl", "glg"}, {"gn", "grn"}, {"gu", "guj"},
    {"gv", "glv"}, {"ha", "hau"}, {"he", "heb"}, {"hi", "hin"}, {"ho", "hmo"}, {"hr", "hrv"},
    {"ht", "hat"}, {"hu", "hun"}, {"hy", "arm"}, {"hz", "her"}, {"ia", "ina"}, {"id", "ind"},
    {"ie", "ile"}, {"ig", "ibo"}, {"ii", "iii"}, {"ik", "ipk"}, {"io", "ido"}, {"is", "ice"},
    {"it", "ita"}, {"iu", "iku"}, {"ja", "jpn"}, {"jv", "jav"}, {"ka", "geo"}, {"kg", "kon"},
    {"ki", "kik"}, {"kj", "kua"}, {"kk", "kaz"}, {"kl", "kal"}, {"km", "khm"}, {"kn", "kan"},
    {"ko", "kor"}, {"kr", "kau"}, {"ks", "kas"}, {"ku", "kur"}, {"kv", "kom"}, {"kw", "cor"},
    {"ky", "kir"}, {"la", "lat"}, {"lb", "ltz"}, {"lg", "lug"}, {"li", "lim"}, {"ln", "lin"},
    {"lo", "lao"}, {"lt", "lit"}, {"lu", "lub"}, {"lv", "lav"}, {"mg", "mlg"}, {"mh", "mah"},
    {"mi", "mao"}, {"mk", "mac"}, {"ml", "mal"}, {"mn", "mon"}, {"mr", "mar"}, {"ms", "may"},
    {"mt", "mlt"}, {"my", "bur"}, {"na", "nau"}, {"nb", "nob"}, {"nd", "nde"}, {"ne", "nep"},
    {"ng", "ndo"}, {"nl", "dut"}, {"nn", "nno"}, {"no", "nor"}, {"nr", "nbl"}, {"nv", "nav"},
    {"ny", "nya"}, {"oc", "oci"}, {"oj", "oji"}, {"om", "orm"}, {"or", "ori"}, {"os", "oss"},
    {"pa", "pan"}, {"pi", "pli"}, {"pl", "pol"}, {"ps", "pus"}, {"pt", "por"}, {"qu", "que"},
    {"rm", "roh"}, {"rn", "run"}, {"ro", "rum"}, {"ru", "rus"}, {"rw", "kin"}, {"sa", "san"},
    {"sc", "srd"}, {"sd", "snd"}, {"se", "sme"}, {"sg", "sag"}, {"si", "sin"}, {"sk", "slo"},
    {"sl", "slv"}, {"sm", "smo"}, {"sn", "sna"}, {"so", "som"}, {"sq", "alb"}, {"sr", "srp"},
    {"ss", "ssw"}, {"st", "sot"}, {"su", "sun"}, {"sv", "swe"}, {"sw", "swa"}, {"ta", "tam"},
    {"te", "tel"}, {"tg", "tgk"}, {"th", "tha"}, {"ti", "tir"}, {"tk", "tuk"}, {"tl", "tgl"},
    {"tn", "tsn"}, {"to", "ton"}, {"tr", "tur"}, {"ts", "tso"}, {"tt", "tat"}, {"tw", "twi"},
    {"ty", "tah"}, {"ug", "uig"}, {"uk", "ukr"}, {"ur", "urd"}, {"uz", "uzb"}, {"ve", "ven"},
    {"vi", "vie"}, {"vo", "vol"}, {"wa", "wln"}, {"wo", "wol"}, {"xh", "xho"}, {"yi", "yid"},
    {"yo", "yor"}, {"za", "zha"}, {"zh", "chi"}, {"zu", "zul"},
};

// The terminology forms that have a bibliographic one (the mov muxer knows only those).
constexpr Pair kTerminology[] = {
    {"bod", "tib"}, {"ces", "cze"}, {"cym", "wel"}, {"deu", "ger"}, {"ell", "gre"},
    {"eus", "baq"}, {"fas", "per"}, {"fra", "fre"}, {"hye", "arm"}, {"isl", "ice"},
    {"kat", "geo"}, {"mkd", "mac"}, {"mri", "mao"}, {"msa", "may"}, {"mya", "bur"},
    {"nld", "dut"}, {"ron", "rum"}, {"slk", "slo"}, {"sqi", "alb"}, {"zho", "chi"},
};

// Every ISO 639-2 code, both forms, three letters each, sorted.
constexpr std::string_view kThreeLetter =
    "aarabkaceachadaadyafaafhafrainakaakkalbalealgaltamhanganpapaaraarcargarmarnarpartarwasmastatha"
    "us"
    "avaaveawaaymazebadbaibakbalbambanbaqbasbatbejbelbembenberbhobihbikbinbisblabntbodbosbrabrebtkb"
    "ua"
    "bugbulburbyncadcaicarcatcaucebcelceschachbchechgchichkchmchnchochpchrchuchvchycmccnrcopcorcosc"
    "pe"
    "cpfcppcrecrhcrpcsbcuscymczedakdandardaydeldendeudgrdindivdoidradsbduadumdutdyudzoefiegyekaelle"
    "lx"
    "engenmepoesteuseweewofanfaofasfatfijfilfinfiufonfrafrefrmfrofrrfrsfryfulfurgaagaygbagemgeogerg"
    "ez"
    "gilglagleglgglvgmhgohgongorgotgrbgrcgregrngswgujgwihaihathauhawhebherhilhimhinhithmnhmohrvhsbh"
    "un"
    "huphyeibaiboiceidoiiiijoikuileiloinaincindineinhipkirairoislitajavjbojpnjprjrbkaakabkackalkamk"
    "an"
    "karkaskatkaukawkazkbdkhakhikhmkhokikkinkirkmbkokkomkonkorkoskpekrckrlkrokrukuakumkurkutladlahl"
    "am"
    "laolatlavlezlimlinlitlollozltzlualublugluilunluolusmacmadmagmahmaimakmalmanmaomapmarmasmaymdfm"
    "dr"
    "menmgamicminmismkdmkhmlgmltmncmnimnomohmonmosmrimsamulmunmusmwlmwrmyamynmyvnahnainapnaunavnbln"
    "de"
    "ndondsnepnewnianicniunldnnonobnognonnornqonsonubnwcnyanymnynnyonziociojioriormosaossotaotopaap"
    "ag"
    "palpampanpappaupeoperphiphnplipolponporprapropusquerajraprarroarohromronrumrunruprussadsagsahs"
    "ai"
    "salsamsansassatscnscoselsemsgasgnshnsidsinsiositslaslksloslvsmasmesmismjsmnsmosmssnasndsnksogs"
    "om"
    "sonsotspasqisrdsrnsrpsrrssasswsuksunsussuxswaswesycsyrtahtaitamtatteltemtertettgktglthatibtigt"
    "ir"
    "tivtkltlhtlitmhtogtontpitsitsntsotuktumtupturtuttvltwityvudmugauigukrumbundurduzbvaivenvievolv"
    "ot"
    "wakwalwarwaswelwenwlnwolxalxhoyaoyapyidyorypkzapzblzenzghzhazhozndzulzunzxxzza";

std::string_view lookUp(const Pair* begin, const Pair* end, std::string_view key) {
    const Pair* it = std::lower_bound(
        begin, end, key, [](const Pair& p, std::string_view k) { return p.first < k; });
    return it != end && it->first == key ? it->second : std::string_view{};
}

bool knownThreeLetter(std::string_view code) {
    size_t lo = 0, hi = kThreeLetter.size() / 3;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        const std::string_view at = kThreeLetter.substr(mid * 3, 3);
        if (at == code)
            return true;
        if (at < code)
            lo = mid + 1;
        else
            hi = mid;
    }
    return false;
}

} // namespace

std::string deviceLanguage(std::string_view code) {
    std::string lower;
    for (char c : code) {
        if (c < 'A' || (c > 'Z' && c < 'a') || c > 'z')
            return {};
        lower += static_cast<char>(c | 0x20);
    }
    if (lower.size() == 2)
        return std::string(lookUp(std::begin(kTwoLetter), std::end(kTwoLetter), lower));
    if (lower.size() != 3 || !knownThreeLetter(lower))
        return {};
    const std::string_view bibliographic =
        lookUp(std::begin(kTerminology), std::end(kTerminology), lower);
    return bibliographic.empty() ? lower : std::string(bibliographic);
}

std::string quickTimeLanguage(const std::string& language) {
    static constexpr Pair kOtherNames[] = {
        {"cze", "ces"}, {"fre", "fra"}, {"gle", "iri"},
        {"rum", "ron"}, {"slo", "slk"}, {"swe", "sve"},
    };
    const std::string_view other = lookUp(std::begin(kOtherNames), std::end(kOtherNames), language);
    return other.empty() ? language : std::string(other);
}

} // namespace plexavo::core

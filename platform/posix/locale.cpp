// POSIX locale names mapped to Windows locale identifiers. The numbers are
// those of the published Windows LCID list; the first entry of each language
// is the one a bare language name ("de") maps to.
#include "platform/posix/locale_names.h"

#include <cstdlib>
#include <string>

#include "platform/portable/system_calls.h"

namespace zentrova::platform {
namespace {

constexpr unsigned long kEnglishUnitedStates = 1033;

struct LocaleEntry {
  const char* name;  // language_COUNTRY, with @modifier where it decides
  unsigned long id;
};

constexpr LocaleEntry kLocales[] = {
    {"en_US", 1033},        {"en_GB", 2057},          {"en_AU", 3081},          {"en_CA", 4105},
    {"en_NZ", 5129},        {"en_IE", 6153},          {"en_ZA", 7177},          {"en_JM", 8201},
    {"en_BZ", 10249},       {"en_TT", 11273},         {"en_ZW", 12297},         {"en_PH", 13321},
    {"en_HK", 15369},       {"en_IN", 16393},         {"en_MY", 17417},         {"en_SG", 18441},
    {"de_DE", 1031},        {"de_CH", 2055},          {"de_AT", 3079},          {"de_LU", 4103},
    {"de_LI", 5127},        {"fr_FR", 1036},          {"fr_BE", 2060},          {"fr_CA", 3084},
    {"fr_CH", 4108},        {"fr_LU", 5132},          {"fr_MC", 6156},          {"es_ES", 3082},
    {"es_MX", 2058},        {"es_GT", 4106},          {"es_CR", 5130},          {"es_PA", 6154},
    {"es_DO", 7178},        {"es_VE", 8202},          {"es_CO", 9226},          {"es_PE", 10250},
    {"es_AR", 11274},       {"es_EC", 12298},         {"es_CL", 13322},         {"es_UY", 14346},
    {"es_PY", 15370},       {"es_BO", 16394},         {"es_SV", 17418},         {"es_HN", 18442},
    {"es_NI", 19466},       {"es_PR", 20490},         {"es_US", 21514},         {"pt_BR", 1046},
    {"pt_PT", 2070},        {"it_IT", 1040},          {"it_CH", 2064},          {"nl_NL", 1043},
    {"nl_BE", 2067},        {"zh_CN", 2052},          {"zh_TW", 1028},          {"zh_HK", 3076},
    {"zh_SG", 4100},        {"zh_MO", 5124},          {"ja_JP", 1041},          {"ko_KR", 1042},
    {"ar_SA", 1025},        {"ar_IQ", 2049},          {"ar_EG", 3073},          {"ar_LY", 4097},
    {"ar_DZ", 5121},        {"ar_MA", 6145},          {"ar_TN", 7169},          {"ar_OM", 8193},
    {"ar_YE", 9217},        {"ar_SY", 10241},         {"ar_JO", 11265},         {"ar_LB", 12289},
    {"ar_KW", 13313},       {"ar_AE", 14337},         {"ar_BH", 15361},         {"ar_QA", 16385},
    {"ru_RU", 1049},        {"uk_UA", 1058},          {"be_BY", 1059},          {"pl_PL", 1045},
    {"cs_CZ", 1029},        {"sk_SK", 1051},          {"hu_HU", 1038},          {"ro_RO", 1048},
    {"bg_BG", 1026},        {"el_GR", 1032},          {"tr_TR", 1055},          {"he_IL", 1037},
    {"th_TH", 1054},        {"vi_VN", 1066},          {"id_ID", 1057},          {"ms_MY", 1086},
    {"ms_BN", 2110},        {"fil_PH", 1124},         {"tl_PH", 1124},          {"hi_IN", 1081},
    {"bn_IN", 1093},        {"bn_BD", 2117},          {"pa_IN", 1094},          {"gu_IN", 1095},
    {"or_IN", 1096},        {"ta_IN", 1097},          {"te_IN", 1098},          {"kn_IN", 1099},
    {"ml_IN", 1100},        {"as_IN", 1101},          {"mr_IN", 1102},          {"sa_IN", 1103},
    {"ur_PK", 1056},        {"fa_IR", 1065},          {"ne_NP", 1121},          {"si_LK", 1115},
    {"km_KH", 1107},        {"lo_LA", 1108},          {"my_MM", 1109},          {"mn_MN", 1104},
    {"ps_AF", 1123},        {"da_DK", 1030},          {"sv_SE", 1053},          {"sv_FI", 2077},
    {"nb_NO", 1044},        {"no_NO", 1044},          {"nn_NO", 2068},          {"fi_FI", 1035},
    {"is_IS", 1039},        {"fo_FO", 1080},          {"se_NO", 1083},          {"et_EE", 1061},
    {"lv_LV", 1062},        {"lt_LT", 1063},          {"sl_SI", 1060},          {"hr_HR", 1050},
    {"hr_BA", 4122},        {"sr_RS", 10266},         {"sr_RS@latin", 9242},    {"sr_ME", 12314},
    {"sr_ME@latin", 11290}, {"bs_BA", 5146},          {"mk_MK", 1071},          {"sq_AL", 1052},
    {"ca_ES", 1027},        {"ca_ES@valencia", 2051}, {"eu_ES", 1069},          {"gl_ES", 1110},
    {"cy_GB", 1106},        {"ga_IE", 2108},          {"gd_GB", 1169},          {"br_FR", 1150},
    {"oc_FR", 1154},        {"co_FR", 1155},          {"lb_LU", 1134},          {"fy_NL", 1122},
    {"mt_MT", 1082},        {"rm_CH", 1047},          {"af_ZA", 1078},          {"zu_ZA", 1077},
    {"xh_ZA", 1076},        {"st_ZA", 1072},          {"tn_ZA", 1074},          {"ts_ZA", 1073},
    {"ve_ZA", 1075},        {"nso_ZA", 1132},         {"sw_KE", 1089},          {"am_ET", 1118},
    {"ti_ET", 1139},        {"so_SO", 1143},          {"ha_NG", 1128},          {"yo_NG", 1130},
    {"ig_NG", 1136},        {"rw_RW", 1159},          {"wo_SN", 1160},          {"ka_GE", 1079},
    {"hy_AM", 1067},        {"az_AZ", 1068},          {"az_AZ@cyrillic", 2092}, {"kk_KZ", 1087},
    {"ky_KG", 1088},        {"uz_UZ", 1091},          {"uz_UZ@cyrillic", 2115}, {"tg_TJ", 1064},
    {"tk_TM", 1090},        {"tt_RU", 1092},          {"ba_RU", 1133},          {"ug_CN", 1152},
    {"mi_NZ", 1153},        {"kl_GL", 1135},          {"quz_BO", 1131},
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// "de_DE.UTF-8@euro" gives language "de", country "DE", modifier "euro".
void Split(std::string_view name, std::string& language, std::string& country,
           std::string& modifier) {
  std::size_t i = 0;
  while (i < name.size() && name[i] != '_' && name[i] != '-' && name[i] != '.' && name[i] != '@')
    language += Lower(name[i++]);
  if (i < name.size() && (name[i] == '_' || name[i] == '-')) {
    ++i;
    while (i < name.size() && name[i] != '.' && name[i] != '@') country += Upper(name[i++]);
  }
  const std::size_t at = name.find('@', i);
  if (at != std::string_view::npos) {
    for (char c : name.substr(at + 1)) modifier += Lower(c);
  }
}

}  // namespace

unsigned long LocaleIdForName(std::string_view name) {
  std::string language, country, modifier;
  Split(name, language, country, modifier);
  if (language.empty() || language == "c" || language == "posix") return kEnglishUnitedStates;

  const std::string full = language + "_" + country;
  if (!modifier.empty()) {
    const std::string withModifier = full + "@" + modifier;
    for (const auto& e : kLocales)
      if (withModifier == e.name) return e.id;
  }
  for (const auto& e : kLocales)
    if (full == e.name) return e.id;
  const std::string prefix = language + "_";
  for (const auto& e : kLocales)
    if (std::string_view(e.name).substr(0, prefix.size()) == prefix) return e.id;
  return kEnglishUnitedStates;
}

namespace system {

unsigned long CurrentLocaleId() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return LocaleIdForName(value);
  }
  return kEnglishUnitedStates;
}

}  // namespace system

}  // namespace zentrova::platform

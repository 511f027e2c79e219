// The MacExpertEncoding table, written out from the published encoding
// (its glyph names by code; null where the standard leaves a code unused).
#include "engine/content/MacExpertEncoding.h"

namespace rendova {

// clang-format off
const char* const kMacExpertEncoding[256] = {
    nullptr, nullptr, nullptr, nullptr,  // 0
    nullptr, nullptr, nullptr, nullptr,  // 4
    nullptr, nullptr, nullptr, nullptr,  // 8
    nullptr, nullptr, nullptr, nullptr,  // 12
    nullptr, nullptr, nullptr, nullptr,  // 16
    nullptr, nullptr, nullptr, nullptr,  // 20
    nullptr, nullptr, nullptr, nullptr,  // 24
    nullptr, nullptr, nullptr, nullptr,  // 28
    "space", "exclamsmall", "Hungarumlautsmall", "centoldstyle",  // 32
    "dollaroldstyle", "dollarsuperior", "ampersandsmall", "Acutesmall",  // 36
    "parenleftsuperior", "parenrightsuperior", "twodotenleader", "onedotenleader",  // 40
    "comma", "hyphen", "period", "fraction",  // 44
    "zerooldstyle", "oneoldstyle", "twooldstyle", "threeoldstyle",  // 48
    "fouroldstyle", "fiveoldstyle", "sixoldstyle", "sevenoldstyle",  // 52
    "eightoldstyle", "nineoldstyle", "colon", "semicolon",  // 56
    nullptr, "threequartersemdash", nullptr, "questionsmall",  // 60
    nullptr, nullptr, nullptr, nullptr,  // 64
    "Ethsmall", nullptr, nullptr, "onequarter",  // 68
    "onehalf", "threequarters", "oneeighth", "threeeighths",  // 72
    "fiveeighths", "seveneighths", "onethird", "twothirds",  // 76
    nullptr, nullptr, nullptr, nullptr,  // 80
    nullptr, nullptr, "ff", "fi",  // 84
    "fl", "ffi", "ffl", "parenleftinferior",  // 88
    nullptr, "parenrightinferior", "Circumflexsmall", "hypheninferior",  // 92
    "Gravesmall", "Asmall", "Bsmall", "Csmall",  // 96
    "Dsmall", "Esmall", "Fsmall", "Gsmall",  // 100
    "Hsmall", "Ismall", "Jsmall", "Ksmall",  // 104
    "Lsmall", "Msmall", "Nsmall", "Osmall",  // 108
    "Psmall", "Qsmall", "Rsmall", "Ssmall",  // 112
    "Tsmall", "Usmall", "Vsmall", "Wsmall",  // 116
    "Xsmall", "Ysmall", "Zsmall", "colonmonetary",  // 120
    "onefitted", "rupiah", "Tildesmall", nullptr,  // 124
    nullptr, "asuperior", "centsuperior", nullptr,  // 128
    nullptr, nullptr, nullptr, "Aacutesmall",  // 132
    "Agravesmall", "Acircumflexsmall", "Adieresissmall", "Atildesmall",  // 136
    "Aringsmall", "Ccedillasmall", "Eacutesmall", "Egravesmall",  // 140
    "Ecircumflexsmall", "Edieresissmall", "Iacutesmall", "Igravesmall",  // 144
    "Icircumflexsmall", "Idieresissmall", "Ntildesmall", "Oacutesmall",  // 148
    "Ogravesmall", "Ocircumflexsmall", "Odieresissmall", "Otildesmall",  // 152
    "Uacutesmall", "Ugravesmall", "Ucircumflexsmall", "Udieresissmall",  // 156
    nullptr, "eightsuperior", "fourinferior", "threeinferior",  // 160
    "sixinferior", "eightinferior", "seveninferior", "Scaronsmall",  // 164
    nullptr, "centinferior", "twoinferior", nullptr,  // 168
    "Dieresissmall", nullptr, "Caronsmall", "osuperior",  // 172
    "fiveinferior", nullptr, "commainferior", "periodinferior",  // 176
    "Yacutesmall", nullptr, "dollarinferior", nullptr,  // 180
    nullptr, "Thornsmall", nullptr, "nineinferior",  // 184
    "zeroinferior", "Zcaronsmall", "AEsmall", "Oslashsmall",  // 188
    "questiondownsmall", "oneinferior", "Lslashsmall", nullptr,  // 192
    nullptr, nullptr, nullptr, nullptr,  // 196
    nullptr, "Cedillasmall", nullptr, nullptr,  // 200
    nullptr, nullptr, nullptr, "OEsmall",  // 204
    "figuredash", "hyphensuperior", nullptr, nullptr,  // 208
    nullptr, nullptr, "exclamdownsmall", nullptr,  // 212
    "Ydieresissmall", nullptr, "onesuperior", "twosuperior",  // 216
    "threesuperior", "foursuperior", "fivesuperior", "sixsuperior",  // 220
    "sevensuperior", "ninesuperior", "zerosuperior", nullptr,  // 224
    "esuperior", "rsuperior", "tsuperior", nullptr,  // 228
    nullptr, "isuperior", "ssuperior", "dsuperior",  // 232
    nullptr, nullptr, nullptr, nullptr,  // 236
    nullptr, "lsuperior", "Ogoneksmall", "Brevesmall",  // 240
    "Macronsmall", "bsuperior", "nsuperior", "msuperior",  // 244
    "commasuperior", "periodsuperior", "Dotaccentsmall", "Ringsmall",  // 248
    nullptr, nullptr, nullptr, nullptr,  // 252
};
// clang-format on

}  // namespace rendova

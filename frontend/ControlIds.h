#pragma once

namespace glimmark {

// Window identifiers of the wizard's controls and menu commands. They keep
// the numbers of the program's dialog layouts, so that a control is the same
// control on every page that names it and tests can find it by its number.
enum ControlId : int {
    // Main window.
    kIdStepTitle = 1001,
    kIdPageFrame = 1002,
    kIdHelp = 1003,
    kIdAbout = 1004,
    kIdPrevious = 1006,
    kIdConvert = 1007,
    kIdNext = 1008,
    kIdMinimise = 1009,
    kIdClose = 1011,
    kIdTitleLogo = 1014,
    kIdFileList = 1016,
    kIdAddFiles = 1017,
    kIdDelete = 1020,
    kIdPropertyName = 1021,
    kIdPropertySize = 1022,
    kIdPropertyType = 1023,
    kIdPropertyModified = 1024,
    kIdPropertyCreated = 1025,
    kIdPropertyAccessed = 1026,
    kIdPropertyAttributes = 1027,
    kIdAddFolder = 1040,
    kIdClear = 1060,
    kIdStop = 1061,
    kIdFinish = 1062,
    kIdTitleMark = 1071,
    kIdCaption = 1072,
    kIdTopSeparator = 1073,
    kIdBottomSeparator = 1074,
    kIdPropertiesGroup = 1075,
    kIdPropertyLabelFirst = 1076,  // 1076 .. 1082, one per property
    kIdMaximise = 1100,

    // Options page.
    kIdSaveBesideInput = 1030,
    kIdSaveToFolder = 1031,
    kIdBrowseSavePath = 1048,
    kIdSavePath = 1049,
    kIdXDpi = 1106,
    kIdYDpi = 1107,
    kIdTifModeSingle = 1108,
    kIdTifModeMulti = 1109,
    kIdTifModeAllInOne = 1110,
    kIdImageType = 1120,
    kIdFormatFrame = 1121,
    kIdImageSettingsGroup = 1136,
    kIdSaveModeGroup = 1137,
    kIdTifModeGroup = 1138,
    kIdPassword = 1142,

    // Format pages.
    kIdColourDepth = 1122,
    kIdColourColorized = 1123,
    kIdColourGrayscale = 1124,
    kIdGifDepth = 1125,
    kIdGifColorized = 1126,
    kIdGifGrayscale = 1127,
    kIdJpegDepth = 1128,
    kIdJpegQuality = 1129,
    kIdJpegQualityLabel = 1130,
    kIdTiffDepth = 1105,
    kIdTiffColorized = 1131,
    kIdTiffGrayscale = 1132,
    kIdTiffNone = 1112,
    kIdTiffLzw = 1113,
    kIdTiffRle = 1114,
    kIdTiffPackbits = 1115,
    kIdTiffGroup3 = 1116,
    kIdTiffGroup4 = 1117,
    kIdTiffJpeg = 1118,
    kIdTiffQuality = 1119,
    kIdTiffQualityLabel = 1133,

    // Progress page.
    kIdResultList = 1037,
    kIdOverallProgress = 1038,
    kIdRecordLog = 1039,
    kIdBrowseLogPath = 1041,
    kIdLogPath = 1042,
    kIdLogGroup = 1088,
    kIdPageProgress = 1145,
    kIdStatusText = 1146,

    // About box.
    kIdAboutSupportLink = 1067,
    kIdAboutHomeLink = 1068,
    kIdAboutTitle = 1147,

    // Context menu of the file list.
    kMenuAddFiles = 32771,
    kMenuAddFolder = 32772,
    kMenuDeleteSelected = 32775,
    kMenuClearAll = 32776,
};

}  // namespace glimmark

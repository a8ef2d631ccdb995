// Identifiers and texts of the settings sheet in its four languages. The
// resource script builds its templates and string tables from these, and the
// terminal form prints the same words, so the two cannot drift apart.
// UTF-8; the part above RC_INVOKED must stay plain preprocessor.
#pragma once

// Page templates, by language.
#define IDD_CONNECTION_DE 7001
#define IDD_CHARGES_DE 7002
#define IDD_INFO_DE 7005
#define IDD_CONNECTION_FR 7006
#define IDD_CHARGES_FR 7014
#define IDD_INFO_FR 7013
#define IDD_CONNECTION_NL 7007
#define IDD_CHARGES_NL 7008
#define IDD_INFO_NL 7009
#define IDD_CONNECTION_EN 7004
#define IDD_CHARGES_EN 7010
#define IDD_INFO_EN 7011

// Connection page controls.
#define IDC_PORT_LIST 7000
#define IDC_MSN 7005
#define IDC_TRACE 7006
// Charges page controls.
#define IDC_CHARGE_PER_UNIT 7002
#define IDC_CURRENCY 7003
#define IDC_FORMAT_UNITS 7004
#define IDC_FORMAT_AMOUNT 7005
#define IDC_FORMAT_AOCD_UNITS 7006
#define IDC_FORMAT_AOCD_CURRENCY 7007
// Info page controls.
#define IDC_PROVIDER_VERSION 7001
#define IDC_TAPI_VERSION 7002
#define IDC_INTERFACE_VERSION 7003

// Message strings.
#define IDS_ENTER_NUMBER_DE 1
#define IDS_ENTER_NUMBER_EN 2
#define IDS_ENTER_NUMBER_FR 3
#define IDS_ENTER_NUMBER_NL 4
#define IDS_ENTER_NUMBER_IT 5
#define IDS_SAVE_FAILED_DE 6
#define IDS_SAVE_FAILED_EN 7
#define IDS_SAVE_FAILED_FR 8
#define IDS_SAVE_FAILED_NL 9
#define IDS_MESSAGE_CAPTION 57344
// The range and length refusals: the German ones at the dialog framework's own
// IDs, the other languages beside them.
#define IDS_NUMBER_RANGE_DE 0xF113
#define IDS_TEXT_LENGTH_DE 0xF114
#define IDS_NUMBER_RANGE_EN 0xF115
#define IDS_TEXT_LENGTH_EN 0xF116
#define IDS_NUMBER_RANGE_FR 0xF117
#define IDS_TEXT_LENGTH_FR 0xF118
#define IDS_NUMBER_RANGE_NL 0xF119
#define IDS_TEXT_LENGTH_NL 0xF11A

#define TXT_ENTER_NUMBER_DE "Geben Sie bitte eine Zahl ein !"
#define TXT_ENTER_NUMBER_EN "Please enter a number !"
#define TXT_ENTER_NUMBER_FR "Tapez un nombre !"
#define TXT_ENTER_NUMBER_NL "Voer een getal in !"
#define TXT_ENTER_NUMBER_IT "Digitare un numero."
#define TXT_MESSAGE_CAPTION "Kavrel Phone TSP"

// German.
#define TXT_CONNECTION_DE "Anschluss"
#define TXT_CHARGES_DE "Gebühren"
#define TXT_INFO_DE "Info"
#define TXT_MSN_DE "MSN :"
#define TXT_PORT_DE "Bitte wählen Sie\nden COM Port aus :"
#define TXT_TRACE_DE "TSPI Protokoll    ( kavrtsp.log )"
#define TXT_CHARGE_DE "Preis pro Einheit :"
#define TXT_CHARGE_HINT_DE "( z.B.:   0,06 )"
#define TXT_CURRENCY_DE "Währung :"
#define TXT_CURRENCY_HINT_DE "( z.B.:   EUR )"
#define TXT_FORMAT_DE "Format : "
#define TXT_FORMAT_UNITS_DE "Einheiten als Zeichenfolge"
#define TXT_FORMAT_AOCD_UNITS_DE "Einheiten in AOCDChargingUnit (ISDN, Q931)"
#define TXT_FORMAT_AMOUNT_DE "Währungsbetrag als Zeichenfolge"
#define TXT_FORMAT_AOCD_CURRENCY_DE "Währungsbetrag in AOCDCurrency (ISDN, Q931)"
#define TXT_HEADING_DE "Kavrel Phone Telephonie Service Provider"
#define TXT_TSP_VERSION_DE "TSP Version :"
#define TXT_TAPI_VERSION_DE "TAPI Version :"
#define TXT_INTERFACE_VERSION_DE "Aktuelle TAPI / TSP\nInterfaceversion :"
#define TXT_NUMBER_RANGE_DE "Geben Sie bitte eine Zahl zwischen %1 und %2 ein."
#define TXT_TEXT_LENGTH_DE "Geben Sie bitte nicht mehr als %1 Zeichen ein."
#define TXT_SAVE_FAILED_DE "Die Einstellungen konnten nicht gespeichert werden.\nZum Ändern sind Administratorrechte nötig: Schließen Sie dieses Fenster, starten Sie die Anwendung mit „Als Administrator ausführen“ und ändern Sie die Einstellungen dort erneut."

// English, for every language without pages of its own.
#define TXT_CONNECTION_EN "Port"
#define TXT_CHARGES_EN "Charges"
#define TXT_INFO_EN "Info"
#define TXT_MSN_EN "MSN :"
#define TXT_PORT_EN "Please select\nthe COM port :"
#define TXT_TRACE_EN "TSPI log file   ( kavrtsp.log )"
#define TXT_CHARGE_EN "Charge per unit :"
#define TXT_CHARGE_HINT_EN "( e.g.:   0.10 )"
#define TXT_CURRENCY_EN "Currency :"
#define TXT_CURRENCY_HINT_EN "( e.g.:   EUR )"
#define TXT_FORMAT_EN "Format : "
#define TXT_FORMAT_UNITS_EN "Units as string"
#define TXT_FORMAT_AOCD_UNITS_EN "Units as AOCDChargingUnit (ISDN, Q931)"
#define TXT_FORMAT_AMOUNT_EN "Currency amount as string"
#define TXT_FORMAT_AOCD_CURRENCY_EN "Amount as AOCDCurrency (ISDN, Q931)"
#define TXT_HEADING_EN "Kavrel Phone Telephony Service Provider"
#define TXT_TSP_VERSION_EN "TSP version :"
#define TXT_TAPI_VERSION_EN "TAPI version :"
#define TXT_INTERFACE_VERSION_EN "Current TAPI / TSP\ninterface version :"
#define TXT_NUMBER_RANGE_EN "Please enter a number between %1 and %2."
#define TXT_TEXT_LENGTH_EN "Please enter no more than %1 characters."
#define TXT_SAVE_FAILED_EN "The settings could not be saved.\nChanging them needs administrator rights: close this window, start the application with “Run as administrator” and change the settings there again."

// French.
#define TXT_CONNECTION_FR "Port"
#define TXT_CHARGES_FR "Taxes"
#define TXT_INFO_FR "Info"
#define TXT_MSN_FR "MSN :"
#define TXT_PORT_FR "Sélection\ndu port COM :"
#define TXT_TRACE_FR "Protocole TSPI  ( kavrtsp.log )"
#define TXT_CHARGE_FR "Coût par unité :"
#define TXT_CHARGE_HINT_FR "(ex : 0,12)"
#define TXT_CURRENCY_FR "Monnaie :"
#define TXT_CURRENCY_HINT_FR "(ex :   EUR )"
#define TXT_FORMAT_FR "Format : "
#define TXT_FORMAT_UNITS_FR "Affichage par unités"
#define TXT_FORMAT_AOCD_UNITS_FR "Unités au format AOCDChargingUnit (ISDN, Q931)"
#define TXT_FORMAT_AMOUNT_FR "Affichage par montant"
#define TXT_FORMAT_AOCD_CURRENCY_FR "Montant au format AOCDCurrency (ISDN, Q931)"
#define TXT_HEADING_FR TXT_HEADING_EN
#define TXT_TSP_VERSION_FR "TSP version :"
#define TXT_TAPI_VERSION_FR "TAPI version :"
#define TXT_INTERFACE_VERSION_FR "Version actuelle\nde l'interface TAPI / TSP :"
#define TXT_NUMBER_RANGE_FR "Veuillez entrer un nombre compris entre %1 et %2."
#define TXT_TEXT_LENGTH_FR "Veuillez ne pas entrer plus de %1 caractères."
#define TXT_SAVE_FAILED_FR "Les paramètres n'ont pas pu être enregistrés.\nLeur modification nécessite les droits d'administrateur : fermez cette fenêtre, démarrez l'application avec « Exécuter en tant qu'administrateur » et modifiez-y à nouveau les paramètres."

// Dutch.
#define TXT_CONNECTION_NL "Aansluiting"
#define TXT_CHARGES_NL "Kosten"
#define TXT_INFO_NL "Info"
#define TXT_MSN_NL "MSN :"
#define TXT_PORT_NL "COM-poort instellen :"
#define TXT_TRACE_NL "TSPI LOG file  ( kavrtsp.log )"
#define TXT_CHARGE_NL "Kosten per eenheid :"
#define TXT_CHARGE_HINT_NL "( bijv.:   0,05 )"
#define TXT_CURRENCY_NL "Valuta :"
#define TXT_CURRENCY_HINT_NL "( bijv.:   EUR )"
#define TXT_FORMAT_NL "Format : "
#define TXT_FORMAT_UNITS_NL "Eenheden als puls"
#define TXT_FORMAT_AOCD_UNITS_NL "Eenheden als bedrag met valuta (ISDN, Q931)"
#define TXT_FORMAT_AMOUNT_NL "Totaal eenheden als puls"
#define TXT_FORMAT_AOCD_CURRENCY_NL "Totaal eenheden als bedrag met valuta (ISDN, Q931)"
#define TXT_HEADING_NL TXT_HEADING_EN
#define TXT_TSP_VERSION_NL "TSP versie :"
#define TXT_TAPI_VERSION_NL "TAPI versie :"
#define TXT_INTERFACE_VERSION_NL "Huidige TAPI / TSP\ninterface versie"
#define TXT_NUMBER_RANGE_NL "Voer een getal tussen %1 en %2 in."
#define TXT_TEXT_LENGTH_NL "Voer niet meer dan %1 tekens in."
#define TXT_SAVE_FAILED_NL "De instellingen konden niet worden opgeslagen.\nVoor het wijzigen zijn beheerdersrechten nodig: sluit dit venster, start de toepassing met „Als administrator uitvoeren” en wijzig de instellingen daar opnieuw."

#ifndef RC_INVOKED

#include <cstdint>
#include <string>
#include <string_view>

// The language a sheet is shown in.
enum class SheetLanguage { kGerman, kEnglish, kFrench, kDutch };

inline constexpr std::uint16_t kLangGerman = 0x07;
inline constexpr std::uint16_t kLangFrench = 0x0C;
inline constexpr std::uint16_t kLangDutch = 0x13;
inline constexpr std::uint16_t kLangItalian = 0x10;

// The primary language of a Win32 language identifier: its low 10 bits.
constexpr std::uint16_t PrimaryLanguage(std::uint16_t langId) { return langId & 0x3FF; }
SheetLanguage SheetLanguageOf(std::uint16_t langId);

// Everything a page shows, in one language (UTF-8).
struct SheetTexts {
  int connectionTemplate;
  int chargesTemplate;
  int infoTemplate;
  const char* connectionTitle;
  const char* chargesTitle;
  const char* infoTitle;
  const char* msnLabel;
  const char* portLabel;
  const char* traceCheck;
  const char* chargeLabel;
  const char* chargeHint;
  const char* currencyLabel;
  const char* currencyHint;
  const char* formatGroup;
  const char* formatText[4];  // by ChargeFormat 1 to 4
  const char* infoHeading;
  const char* tspVersionLabel;
  const char* tapiVersionLabel;
  const char* interfaceVersionLabel;
  // Message strings.
  int numberRangeMessage;
  int textLengthMessage;
  int saveFailedMessage;
};
const SheetTexts& TextsFor(SheetLanguage language);

// The enter-a-number message of the user's language (Italian has one, but no pages).
int EnterNumberMessageId(std::uint16_t langId);
// A message string by its resource identifier; empty for an unknown one.
const char* MessageText(int stringId);
// Replaces %1 and %2 in a message, as FormatMessage does for the framework's texts.
std::string FormatMessageText(std::string_view text, std::string_view arg1, std::string_view arg2 = {});

#endif

// Every property of a freshly loaded server: its first value, what its setter
// accepts and refuses with which message, and PagoraMessage's checks of the
// settings in their order. (JScript, since Wine's VBScript has no Eval.)
function check(label, got, want) {
  if (String(got) !== String(want)) WScript.Echo("FAIL " + label + ": [" + got + "], not [" + want + "]");
}
var o = new ActiveXObject("ZentrovaCOM.SMSInterface");
var numbers = ["ProxyType", "ProxyPort", "CountryCode"];
var texts = ["ProxyAddress", "ProxyUserName", "SMTPServer", "SMTPLoginName", "SMTPPassword", "Email"];
var i, name;

check("Version", o.Version, "Version 1.1");
check("DeliveryMethod", o.DeliveryMethod, 1);
for (i = 0; i < numbers.length; i++) check(numbers[i], o[numbers[i]], 0);
for (i = 0; i < texts.length; i++) check(texts[i], o[texts[i]], "");
check("AccountID", o.AccountID, "");
check("ResponseText", o.ResponseText, "");

// PagoraMessage stops at the first setting that is missing: a setting, then
// the message it leaves while the next one is missing.
var steps = [
  [null, null, "Error: You must supply an email address"],
  ["Email", "me@example", "Error: You must supply an email address"],
  ["Email", "me@example.com", "Error: You have specified SMTP but no SMTP settings."],
  ["DeliveryMethod", 1, "Your must specifify an Account ID"],
  ["AccountID", "123456", "Error: Your must specifify an Password"],
  ["Password", "secret", "Error: There is no message text to send"]];
o.DeliveryMethod = 0;
o.SMTPServer = "mail";
for (i = 0; i < steps.length; i++) {
  if (steps[i][0]) o[steps[i][0]] = steps[i][1];
  o.PagoraMessage("0412345678", "");
  check("after " + steps[i][0], o.ResponseText, steps[i][2]);
}
// Seven digits make no recipient; nothing is sent.
o.PagoraMessage(1234567, "text");
check("seven digits", o.ResponseText, "Error: No recipients");

var badType = "Error: Invalid proxy type.\n\nValid types are: \n  0 = No Proxy, 1 = IE Proxy, 2 = Specific Proxy";
var badMethod = "Error: Invalid delivery moethod.\n\nValid options are: 0 = SMTP (Email), " +
                "1 = HTTP (Web) and 2 = HTTP with SMTP fallback.";
var badCountry = "Error: Invalid country code", badAccount = "Error: Invalid Account ID";
// Property, value, the message of a refusal ("" when accepted). A refusal
// leaves the value; an acceptance leaves the message of the last refusal.
var cases = [
  ["ProxyType", 3, badType], ["ProxyType", -1, badType], ["ProxyType", 2, ""],
  ["ProxyPort", -1, "Error: Invalid proxy port"], ["ProxyPort", 70000, ""],
  ["DeliveryMethod", 3, badMethod], ["DeliveryMethod", 0, ""],
  ["CountryCode", 1000, badCountry], ["CountryCode", -1, badCountry], ["CountryCode", 61, ""],
  ["AccountID", "12345", ""], ["AccountID", "1234", badAccount], ["AccountID", "1234567", badAccount],
  ["AccountID", "12a45", badAccount], ["AccountID", "CI1234567890", ""],
  ["AccountID", "CI12345", badAccount], ["AccountID", "CI12345678901", badAccount],
  ["AccountID", "ci123456", badAccount], ["AccountID", "CI123456", ""]];
for (i = 0; i < cases.length; i++) {
  var c = cases[i], label = c[0] + " = " + c[1];
  var before = o[c[0]], text = o.ResponseText;
  o[c[0]] = c[1];
  check(label, o[c[0]], c[2] ? before : c[1]);
  check(label + " message", o.ResponseText, c[2] ? c[2] : text);
}

// Text properties keep what they are given, the empty text included; the
// write-only ones take any text.
for (i = 0; i < texts.length; i++) {
  name = texts[i];
  o[name] = "v-" + name;
  check(name, o[name], "v-" + name);
  o[name] = "";
  check(name + " emptied", o[name], "");
}
o.Password = "";
o.ProxyPassword = "p";
check("write-only", o.ResponseText, badAccount);
WScript.Echo("DONE properties");

// Texts beyond ASCII, written in JScript since Wine's VBScript has no ChrW.
// The server holds texts in the ANSI code page (Windows-1252 here): what it can
// hold arrives as those bytes, anything else as "?".
// Usage: texts.js GATEWAY (host:port)
var shell = new ActiveXObject("WScript.Shell");
var settings = "HKCU\\Software\\Zentrova\\SMS\\3.0\\Settings\\";
shell.RegWrite(settings + "HTTP1", WScript.Arguments(0), "REG_SZ");
shell.RegWrite(settings + "HTTP2", WScript.Arguments(0), "REG_SZ");
function check(label, got, want) {
  if (String(got) !== String(want)) WScript.Echo("FAIL " + label + ": [" + got + "], not [" + want + "]");
}
var o = new ActiveXObject("ZentrovaCOM.SMSInterface");
o.Email = "me@example.com";
o.AccountID = "123456";
o.Password = "secret";
// A setting keeps what the code page holds and refuses anything else, which
// would arrive altered; the message text is sent with "?" for what is lost.
o.SMTPLoginName = "J\u00f6rg \u20ac";
check("SMTPLoginName", o.SMTPLoginName, "J\u00f6rg \u20ac");
o.SMTPLoginName = "\u03a9";
check("SMTPLoginName kept", o.SMTPLoginName, "J\u00f6rg \u20ac");
check("SMTPLoginName refused", o.ResponseText,
      "Error: The SMTPLoginName text holds characters that the system code page (1252) cannot represent.");
o.PagoraMessage("0412345100", "Gr\u00fc\u00dfe \u20ac \u03a9 \u4e2d");
check("non-ANSI message", o.ResponseText, "");
WScript.Echo("DONE texts");

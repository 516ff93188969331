<%@ Language="JScript" CodePage=65001 %>
<%
// upload_facts_js.asp - what VARO.Upload tells of each file, from JScript:
// its detected type, image size and hashes (SHA-256 taken while the request
// is read), and a save that replaces a file only when asked; with
// ?mode=refuse, a form refused for a type the page does not take, caught
// as an exception.
Response.CharSet = "UTF-8";
var up = Server.CreateObject("VARO.Upload");
up.CodePage = 65001;
up.TempFolder = Server.MapPath("uploads");
up.HashWhileLoading = "sha-256";
if (String(Request.QueryString("mode")) == "refuse") {
    up.AllowedTypes = "image/png";
    try {
        up.LoadRequest(Request);
    } catch (e) {
        Response.Write("<p>refused " + Server.HTMLEncode(e.description) + "</p>");
    }
    Response.Write("<p>count " + up.Count + " " + up.AllowedTypes + " " + up.HashWhileLoading + "</p>");
} else {
    up.LoadRequest(Request);
    var files = new VBArray(up.Files).toArray();
    for (var i = 0; i < files.length; i++) {
        var f = files[i];
        Response.Write("<p>" + Server.HTMLEncode(f.FileName) + " " + f.DetectedType + " " + f.ImageWidth + "x" +
                       f.ImageHeight + " " + f.Hash() + " " + f.Hash("md5") + "</p>");
    }
    var target = Server.MapPath("uploads") + "\\kept.bin";
    files[0].SaveAs(target);
    try {
        files[1].SaveAs(target);
    } catch (e) {
        Response.Write("<p>not replaced " + (e.number >>> 0).toString(16) + "</p>");
    }
    files[1].SaveAs(target, true);
    Response.Write("<p>replaced</p>");
}
%>

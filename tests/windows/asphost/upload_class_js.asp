<%@ Language="JScript" CodePage=65001 %>
<%
// upload_class_js.asp - VARO.Upload from JScript: the names and values of a
// UTF-8 form, each file's facts and bytes, the default member, and a refused
// load caught as an exception with its description; the form loaded from
// the body the page read (?mode=load) or read from the request in pieces
// (?mode=stream).
Response.CharSet = "UTF-8";
if (Request.ServerVariables("REQUEST_METHOD") == "POST") {
    var up = Server.CreateObject("VARO.Upload");
    up.CodePage = 65001;
    if (String(Request.QueryString("mode")) == "stream") {
        up.TempFolder = Server.MapPath("uploads");
        up.LoadRequest(Request);
    } else {
        up.Load(Request.BinaryRead(Request.TotalBytes));
    }
    var names = new VBArray(up.Names).toArray();
    Response.Write("<p>count " + up.Count + ", names " + names.length + "</p>");
    for (var i = 0; i < names.length; i++) {
        var values = new VBArray(up.Values(names[i])).toArray();
        Response.Write("<p>" + Server.HTMLEncode(names[i]) + " = " + Server.HTMLEncode(values.join("|")) +
                       " first " + Server.HTMLEncode(String(up(names[i]))) + "</p>");
    }
    var files = new VBArray(up.Files).toArray();
    for (var j = 0; j < files.length; j++) {
        var f = files[j];
        Response.Write("<p>file " + Server.HTMLEncode(f.Name) + " " + Server.HTMLEncode(f.FileName) + " [" +
                       Server.HTMLEncode(f.ClientPath) + "] " + f.Extension + " " + f.ContentType + " " + f.Size + "</p>");
        f.SaveAs(Server.MapPath("uploads") + "\\" + j + ".bin");
    }
    Response.Write("<p>missing " + (up.File("missing") == null) + " exists " + up.Exists("NAME") + "</p>");
    try {
        up.Load(Request.BinaryRead(0));
    } catch (e) {
        Response.Write("<p>refused " + Server.HTMLEncode(e.description) + "</p>");
    }
    Response.Write("<p>still " + up.Count + "</p>");
}
%>

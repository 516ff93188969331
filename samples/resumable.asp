<%@ Language="VBScript" CodePage=65001 %>
<%
' resumable.asp - the end point of resumable uploads (the tus protocol): a
' client creates an upload here, sends it in chunks with PATCH, asks with
' HEAD how much arrived after a dropped connection, and carries on. The
' upload URL is this page's URL with ?id=...; any server that shares the
' store folder continues an upload. On a real server keep the store in a
' folder of its own outside the site's content (a share, for a farm); the
' local server maps "uploads" to its --uploads.
Option Explicit
Server.ScriptTimeout = 3600

Dim tus
Set tus = Server.CreateObject("VARO.Resumable")
tus.Folder = Server.MapPath("uploads")
tus.MaxSize = 1024 * 1024 * 1024
tus.Expires = 24 * 60
tus.Handle Request, Response
%>
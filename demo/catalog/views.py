import html
import json
import os
import pathlib

from django.http import HttpResponse

from .endpoints import DEFAULT_LIMIT, ENDPOINTS
from .models import Article


def index(request):
    """A page for the browser: the endpoints, and the last measurement when there is one."""
    items = "".join(
        f'<tr><td><a href="/api/{e.slug}/articles/?limit=20">/api/{e.slug}/articles/</a></td>'
        f"<td>{html.escape(e.name)}</td><td>{html.escape(e.how)}</td></tr>"
        for e in ENDPOINTS
    )
    results = ""
    path = os.environ.get("SORVEL_DEMO_RESULTS")
    if path and pathlib.Path(path).is_file():
        table = json.loads(pathlib.Path(path).read_text())
        results = "<h2>Last measurement</h2><pre>" + html.escape(table["text"]) + "</pre>"
    page = f"""<!doctype html><html><head><meta charset="utf-8"><title>sorvel demo</title>
<style>body{{font-family:sans-serif;margin:2em}}td{{padding:2px 12px}}</style></head><body>
<h1>sorvel demo</h1>
<p>{Article.objects.count()} articles in SQLite. Each endpoint serves the same list (the first
<code>?limit=</code> rows, {DEFAULT_LIMIT} by default) through another serializer. The DRF
endpoints show DRF's browsable API in a browser; add <code>?format=json</code> for the JSON.</p>
<table><tr><th>endpoint</th><th>serializer</th><th>road</th></tr>{items}</table>{results}
</body></html>"""
    return HttpResponse(page)


def api_index(request):
    """The endpoints as JSON, for the measuring client."""
    listing = [
        {"slug": e.slug, "name": e.name, "how": e.how, "path": f"/api/{e.slug}/articles/"}
        for e in ENDPOINTS
    ]
    return HttpResponse(json.dumps(listing), content_type="application/json")
